// Flexible parts cut from real photographs, for the real-image evaluation of the engines: the
// pieces are rectangles of a photograph picked as a user would pick them (a coin, a camera, a
// word of print, a headlight), and a run image is the photograph moved, turned and scaled as a
// whole, with each piece pasted moved and turned a little against the rest, then degraded the
// way a camera degrades it: depth-of-field blur, exposure gain with clipping, sensor noise,
// reversed polarity, or a textured patch (a piece of another photograph) over part of each
// piece.
//
// The photographs are the sample images of Debian's python3-skimage (coins, the camera man, a
// printed page, a coffee cup, a motorcycle in a workshop, handwriting, an astronaut); the
// textured patches come from its gravel picture. vfHavePhotos() is false where the package is
// missing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcPelRect.h"
#include "platform/core/vcXform.h"
#include "vcFlexModels.h"

bool vfHavePhotos();
// Names of the photographs of the Geofind evaluation: "coins", "camera", "page", "coffee",
// "motorcycle".
std::vector<std::string> vfPhotoNames();
// Those of the correlation evaluation: the same five, then "text" (handwriting on ruled paper)
// and "astronaut" (a portrait with print on a patch and a name tag).
std::vector<std::string> vfCorrelationPhotoNames();
// A photograph of the collection as 8-bit grey (colour by the usual luminance weights);
// "gravel" is the texture of the patches. Throws vcBadParams naming the file when it is missing.
vcPelBuffer<unsigned char> vfReadPhoto(const std::string& name);

struct vcPhotoPart {
  std::string photo;
  vcPelBuffer<unsigned char> trainImage;  // the photograph itself
  vcFlexArrangement arrangement;          // one image sub-model per piece, centred on it
  std::vector<std::string> names;         // per instance position
  std::vector<vcPelRect> regions;         // per instance, training pixels
  std::vector<vcVector<2>> centres;       // per instance: its region's centre
  vcVector<2> partCentre;                 // the arrangement's origin: the photograph's centre
};

// With `image` (the photograph's size) the pieces are cut from it instead of the photograph.
vcPhotoPart vfMakePhotoPart(const std::string& photo,
                            const vcPelBuffer_const<unsigned char>* image = nullptr);
// The photograph scaled by `scale` (cubic interpolation, so its edges are as soft as the
// photograph's, widened by the scale) and cut to width x height from its upper-left corner, the
// pieces' regions scaled with it: a part at a camera's resolution. Throws vcBadParams when the
// scaled photograph does not cover that size.
vcPhotoPart vfMakeScaledPhotoPart(const std::string& photo, double scale, long width, long height);

struct vcPhotoSceneOptions {
  // The part as a whole, about its centre: turn, scale and shift in pixels.
  double angleDeg = 0.0, scale = 1.0;
  vcVector<2> shift;
  // Each piece against the layout, about its own centre, drawn uniformly up to these.
  double maxShift = 3.0, maxTurnDeg = 2.0;
  // Degradations, applied in this order: patches, blur, gain, polarity, noise.
  double patchFraction = 0.0;  // share of each piece's region covered by gravel texture
  double blurSigma = 0.0;
  double gain = 1.0;    // grey * gain, clipped to 0 .. 255
  bool invert = false;  // 255 - grey
  double noiseSigma = 0.0;
  std::uint32_t seed = 1;
};

struct vcPhotoScene {
  vcPelBuffer<unsigned char> image;  // the photograph's size
  // The part's origin frame to image pixels (what a run reports for the part).
  vcXform<2> partPose;
  // Per instance: sub-model coordinates to image pixels.
  std::vector<vcXform<2>> truth;
  // Per instance: whether its whole region lies inside the image, and the share of its edges
  // (pixels of the photograph's region with a gradient of at least 8 grey levels per pixel)
  // that the gain saturates on both sides. A piece that lost most of its edges to a saturated
  // exposure is no longer in the image to be found.
  std::vector<bool> inside;
  std::vector<double> edgesClipped;
};

vcPhotoScene vfRenderPhotoScene(const vcPhotoPart& part, const vcPhotoSceneOptions& opt);
