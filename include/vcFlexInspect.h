// Inspecting a found part against good ones: a golden model trained from good images, each
// found and rectified into the part's trained layout, and the inspection of one image, whose
// rectified pixels are compared with it. Rectification takes out the flex, so what stays
// outside the model's tolerance is a defect, reported where it lies in the run image.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcPelRect.h"
#include "platform/core/vcVector.h"
#include "platform/core/vcXform.h"
#include "vcFlexAlignTool.h"
#include "vcFlexRectify.h"

class vcArchive;

struct vcFlexGoldenParams {
  // A pixel is out of tolerance where |rectified - mean| > max(floor, spreadFactor x spread,
  // gradientFactor x gradient), the gradient being the largest magnitude of the mean image's
  // gradient over the pixel's 3 x 3 neighbourhood (grey levels per pixel).
  //
  // Grey levels no pixel's tolerance goes below: the noise of one image against the mean
  // (a sigma 5 noise leaves about 4 after bilinear sampling) must stay far inside it. 0 to 255.
  double floor = 10.0;
  // Multiple of the per-pixel spread (standard deviation over the good images, smoothed over
  // 3 x 3 pixels so that ten images give a steady figure). 0 to 100.
  double spreadFactor = 3.0;
  // Tolerance per grey level per pixel of gradient: a residual misregistration of d pixels
  // changes an edge pixel by about d x gradient, so 0.5 tolerates half a pixel. 0 to 100.
  double gradientFactor = 0.5;
  // How far (arrangement units) one piece may move against its neighbour between good parts.
  // Near two pieces' footprints (within their margin and this slack of both) a rectified pixel
  // may show either piece's content, shifted by up to this much, since each piece's map holds
  // only over its own footprint: the tolerance there covers the mean's range over that distance
  // (plus the spread term). 0: the largest displacement of a piece against the fitted part pose
  // over the good images, times 1.5. 0 to 64.
  double slack = 0.0;
  // Connected (8-neighbour) out-of-tolerance pixels fewer than this are not a defect. 1 to 1e9.
  long minArea = 20;
  // How the images are rectified; its region is the model's (by default the arrangement's box).
  // poseOnly undoes the part's fitted pose alone, as a rigid tool would, for comparison.
  vcFlexRectifyParams rectify;
};

// One defect: connected pixels outside tolerance.
struct vcFlexDefect {
  // Where it lies in the run image (client coordinates, pixels for a plain image), mapped back
  // through the deformation: its centroid and the box of its pixels' centres grown by half a
  // pixel to whole pixels.
  vcVector<2> centroid;
  vcPelRect box;
  // The same in the arrangement's frame (rectified pixels).
  vcVector<2> nominalCentroid;
  vcPelRect nominalBox;
  long area = 0;          // pixels of the rectified image (arrangement units squared)
  double excess = 0;      // largest |difference| - tolerance over it, grey levels
  double difference = 0;  // the signed difference at that pixel (rectified - mean)
  long piece = -1;        // the instance position whose footprint holds the centroid (or
                          // lies nearest within 8 units), -1 when none
};

struct vcFlexInspection {
  enum Verdict { ePass = 0, eFail = 1, eNotFound = 2 };
  Verdict verdict = eNotFound;
  // eNotFound: why (the best dropped combination's status, or eNoCandidate when the run kept
  // none); found: eFound.
  vcFlexAlignStatus reason;
  std::vector<vcFlexDefect> defects;  // the largest area first
  long inspected = 0;                 // pixels compared (inside the model and the run image)
  // On request: rectified - mean over the model's region (0 where not inspected), and the
  // rectification itself.
  vcFlexFieldImage difference;
  vcFlexRectified rectified;
};

class vcFlexGoldenModel {
 public:
  // Fewer good images than this cannot give a spread.
  static constexpr long kMinImages = 5;

  // Untrained: inspect() throws.
  vcFlexGoldenModel() = default;

  // From good parts: results found in `images` (one each) by a pattern trained with
  // `arrangement`. `ignore`, when bound, is a root image in arrangement units (pixel (x, y) is
  // arrangement point (x, y), as the training image is for a part described on it): its non-zero
  // pixels are not inspected. BadParams for fewer than kMinImages good parts, unmatched lists,
  // a result not found or parameters out of range; BadImage for images of unequal sizes.
  static vcFlexGoldenModel train(const vcFlexArrangement& arrangement,
                                 const std::vector<vcFlexAlignResult>& results,
                                 const std::vector<vcPelBuffer_const<unsigned char>>& images,
                                 const vcFlexGoldenParams& params = vcFlexGoldenParams(),
                                 const vcPelBuffer_const<unsigned char>& ignore = {});
  // The same, running the pattern on each image first: images where the part is not found are
  // left out, and `used` (when given) says which were used.
  static vcFlexGoldenModel train(const vcFlexAlignPattern& pattern,
                                 const vcFlexAlignRunParams& runParams,
                                 const vc2XformBase& startPose,
                                 const std::vector<vcPelBuffer_const<unsigned char>>& images,
                                 const vcFlexGoldenParams& params = vcFlexGoldenParams(),
                                 const vcPelBuffer_const<unsigned char>& ignore = {},
                                 std::vector<bool>* used = nullptr);

  // The part in `image` as the run `found` it (its best result) compared with the model. A run
  // without results is eNotFound. BadParams when the model is untrained or was trained with
  // another arrangement; BadImage for an image of another size than the good ones.
  vcFlexInspection inspect(const vcFlexArrangement& arrangement, const vcFlexAlignResultSet& found,
                           const vcPelBuffer_const<unsigned char>& image,
                           bool keepDifference = false) const;
  vcFlexInspection inspect(const vcFlexArrangement& arrangement, const vcFlexAlignResult& result,
                           const vcPelBuffer_const<unsigned char>& image,
                           bool keepDifference = false) const;
  // Runs the pattern, then inspects.
  vcFlexInspection inspect(const vcFlexAlignPattern& pattern, const vcFlexAlignRunParams& runParams,
                           const vc2XformBase& startPose,
                           const vcPelBuffer_const<unsigned char>& image,
                           bool keepDifference = false) const;

  bool isTrained() const { return imageCount_ > 0; }
  const vcFlexGoldenParams& params() const { return params_; }
  // Changes the tolerances (not the statistics); BadParams for values out of range.
  void params(const vcFlexGoldenParams& p);
  long imageCount() const { return imageCount_; }
  long imageWidth() const { return imageWidth_; }
  long imageHeight() const { return imageHeight_; }
  // The model's pixels, arrangement units; the per-pixel mean, spread and tolerance over it;
  // `inspected` 255 where the pixel is compared (seen in every good image and not ignored).
  const vcPelRect& region() const { return region_; }
  const vcFlexFieldImage& mean() const { return mean_; }
  const vcFlexFieldImage& spread() const { return spread_; }
  const vcFlexFieldImage& tolerance() const { return tolerance_; }
  const std::vector<unsigned char>& inspected() const { return inspected_; }
  // The share of the region's pixels that is inspected, 0 to 1.
  double coverage() const;
  // What the model knows of the arrangement it was trained with (its pieces' footprints and
  // box): an inspection with another is refused.
  std::uint64_t arrangementKey() const { return key_; }

  friend vcArchive& operator||(vcArchive& ar, vcFlexGoldenModel& m);

 private:
  void computeTolerance_();
  // BadParams untrained, BadImage unbound or of another size than the good images.
  void checkImage_(const vcPelBuffer_const<unsigned char>& image) const;

  vcFlexGoldenParams params_;
  long imageCount_ = 0, imageWidth_ = 0, imageHeight_ = 0;
  std::uint64_t key_ = 0;
  vcPelRect region_;
  // Per pixel, the mean's largest departure over the slack where two pieces meet (0 elsewhere).
  vcFlexFieldImage mean_, spread_, tolerance_, envelope_;
  std::vector<unsigned char> inspected_;
};

// Version 0: the parameters, counts, key, region, mean, spread, envelope and inspected pixels (the
// tolerance is computed again). Loading checks every count and value and changes nothing on
// failure.
vcArchive& operator||(vcArchive& ar, vcFlexGoldenModel& m);

// The key of an arrangement as a golden model keeps it.
std::uint64_t vfFlexArrangementKey(const vcFlexAlignDeformation& d);
