// Models a caller builds before training: sub-models (rigid pieces of a flexible part) and
// arrangements that place sub-models at poses, with their static helpers.
//
// Frames of a sub-model: image coordinates (pixels of its training image, or the frame its
// shapes are mapped into), client coordinates (the caller's frame; synthetic shapes are given
// in it) and sub-model coordinates (the frame whose pose `origin` gives in client coordinates).
#pragma once

#include <string>
#include <vector>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcHandle.h"
#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcShapes.h"
#include "platform/core/vcVector.h"
#include "platform/diag/vcDiagFwd.h"
#include "platform/display/vc2Wireframe.h"
#include "platform/display/vcGraphic.h"
#include "vcFlexErrors.h"
#include "vcFlexLimits.h"

class vcArchive;

// One rigid piece: blank (a name only), image (8-bit image, optionally masked) or synthetic
// (weighted wireframe shapes). Copies own their pixels and client transforms but share the
// origin transforms.
class vcFlexSubModel {
 public:
  // The widest and highest a synthetic sub-model's shapes may span, in its image pixels: an
  // engine trains on every pixel their outlines cross, so a careless coordinate of 1e7 would
  // cost minutes and gigabytes. Wider shapes are refused with BadParams naming the sub-model.
  static constexpr double kMaxExtent = vcFlexLimits::kMaxPieceExtent;

  // Blank.
  explicit vcFlexSubModel(const std::string& name = std::string());
  // Image, without and with mask (the mask must have the image's window). The caller's buffers
  // are referenced, not copied.
  vcFlexSubModel(const vcPelBuffer_const<unsigned char>& image, const std::string& name);
  vcFlexSubModel(const vcPelBuffer_const<unsigned char>& image,
                 const vcPelBuffer_const<unsigned char>& mask, const std::string& name);
  // Synthetic: shapes in client coordinates, `clientFromImage` the pattern's pixel frame; every
  // weight 1, or one weight in [-1, 1] per shape.
  vcFlexSubModel(const std::vector<vc2Wireframe>& shapes, const vc2XformBase& clientFromImage,
                 const std::string& name);
  vcFlexSubModel(const std::vector<vc2Wireframe>& shapes, const std::vector<double>& weights,
                 const vc2XformBase& clientFromImage, const std::string& name);

  vcFlexSubModel(const vcFlexSubModel& o);
  vcFlexSubModel& operator=(const vcFlexSubModel& o);
  ~vcFlexSubModel();

  const std::string& name() const { return name_; }
  vcFlexModelDefs::ModelType modelType() const { return modelType_; }
  // 4-bit code: 1 half-turn, 2 other turns, 4 mirror, 8 circular (or turn and mirror).
  unsigned long symmetry() const { return symmetry_; }
  // The two numbers the engine reports with the symmetry code.
  const vcVector<2>& symmetryParams() const { return symmetryParams_; }
  // Extent in client and in image coordinates.
  const vcRect& encloseRect() const { return encloseRect_; }
  const vcRect& encloseImageRect() const { return encloseImageRect_; }

  vcPtrHandle_const<vc2XformBase> clientFromImage() const { return clientFromImage_; }
  vcPtrHandle_const<vc2XformBase> imageFromClient() const { return imageFromClient_; }
  vcPtrHandle_const<vc2XformBase> origin() const { return origin_; }
  vcPtrHandle_const<vc2XformBase> originInverse() const { return originInverse_; }
  // Throws NotImplemented for a non-linear transform, BadParams for one that is not finite;
  // stores a clone.
  void origin(const vc2XformBase& x);

  // Image kind only (WrongModelType otherwise); the mask is unbound when none was given.
  const vcPelBuffer_const<unsigned char>& image() const;
  const vcPelBuffer_const<unsigned char>& mask() const;
  // Synthetic kind only (WrongModelType otherwise).
  const std::vector<vc2Wireframe>& shapes() const;
  const std::vector<double>& weights() const;

  // Appends the graphics `flags` selects, mapped by `xform` (display from sub-model
  // coordinates): 1 the origin and client axes, 2 the name, 4 the client rectangle, 8 the shapes
  // of a synthetic sub-model with direction arrows.
  void draw(vcGraphicList& list, const vc2XformBase& xform, unsigned long flags,
            const vcColor& color) const;

  bool operator==(const vcFlexSubModel& o) const;
  bool operator!=(const vcFlexSubModel& o) const { return !(*this == o); }
  void swap(vcFlexSubModel& o) noexcept { swap_(o); }

  friend vcArchive& operator||(vcArchive& ar, vcFlexSubModel& s);
  friend class vcFlexSubModelHelper;

 private:
  void clear_();
  void swap_(vcFlexSubModel& o) noexcept;
  void setImage_(const vcPelBuffer_const<unsigned char>& image,
                 const vcPelBuffer_const<unsigned char>* mask);
  void setSynthetic_(const std::vector<vc2Wireframe>& shapes, const std::vector<double>& weights,
                     const vc2XformBase& clientFromImage, bool weightsGiven);
  // encloseRect, encloseImageRect, then originInverse.
  void updateDerived_();
  void extractSymmetry_();

  vcPelBuffer_const<unsigned char> image_;
  vcPelBuffer_const<unsigned char> mask_;
  std::vector<double> weights_;
  std::vector<vc2Wireframe> shapes_;
  vcPtrHandle_const<vc2XformBase> clientFromImage_;
  vcPtrHandle_const<vc2XformBase> imageFromClient_;
  vcPtrHandle_const<vc2XformBase> origin_;
  vcPtrHandle_const<vc2XformBase> originInverse_;
  std::string name_;
  double featureArea_ = 0.0;
  unsigned long symmetry_ = 0;
  vcVector<2> symmetryParams_;
  vcRect encloseRect_;
  vcRect encloseImageRect_;
  vcFlexModelDefs::ModelType modelType_ = vcFlexModelDefs::eBlank;
};

vcArchive& operator||(vcArchive& ar, vcFlexSubModel& s);

class vcFlexSubModelHelper {
 public:
  // How much pattern the sub-model carries: pixels (or mask pixels >= 128) for an image,
  // the image-frame extent for shapes, 0 for a blank.
  static double featureArea(const vcFlexSubModel& s);
  // Middle of encloseRect() in sub-model coordinates.
  static vcVector<2> centerPt(const vcFlexSubModel& s);
  // A "Sub-Model" record with the drawings under `xform`, and one level down the image and
  // mask of an image sub-model. Records nothing without a recorder.
  static void diagDisplay(const vcFlexSubModel& s, vcDiagObject* diag, unsigned long flags,
                          const vc2XformBase& xform);
};

// A whole flexible part: sub-models and placements (sub-model index and position pose).
// Placement i addresses subModelIndices()[i] and positions()[i] together.
//
// The frames a caller must get right, and how they compose:
// - A sub-model's client frame is that of its training image's client transform (image
//   sub-models) or of the given transform (shapes). Its origin() (identity unless set) maps
//   sub-model coordinates into that client frame. The sub-model's centre, the point its found
//   pose turns about and the one the run predicts, is the middle of encloseRect().
// - positions()[i] maps placement i's sub-model coordinates into arrangement coordinates.
// - origin() is a pose in arrangement coordinates: the frame the run's start pose starts from
//   and its result poses report (location() is where it lies in the image).
// So a piece seen in the image at the client pose P (image client from sub-model coordinates)
// implies the part pose P * positions()[i]^-1 * origin(). To have a piece's pose turn about its
// own centre, give its image window a client transform that puts the client origin at the
// piece's centre (vcPelBuffer::clientFromImageXform(translation by -centre)) and place it by
// the translation to that centre.
class vcFlexArrangement {
 public:
  // Each sub-model placed once at the identity.
  explicit vcFlexArrangement(
      const std::vector<vcFlexSubModel>& subModels = std::vector<vcFlexSubModel>());
  // Sub-model i placed at positions[i] (BadParams when the counts differ).
  vcFlexArrangement(const std::vector<vcFlexSubModel>& subModels,
                    const std::vector<vcPtrHandle_const<vc2XformBase>>& positions);
  // Placement i puts subModels[indices[i]] at positions[i]; an index may repeat.
  vcFlexArrangement(const std::vector<vcFlexSubModel>& subModels, const std::vector<long>& indices,
                    const std::vector<vcPtrHandle_const<vc2XformBase>>& positions);

  vcFlexArrangement(const vcFlexArrangement&) = default;
  vcFlexArrangement& operator=(const vcFlexArrangement&) = default;
  ~vcFlexArrangement() = default;

  const std::vector<vcFlexSubModel>& subModels() const { return subModels_; }
  const std::vector<long>& subModelIndices() const { return subModelIndices_; }
  const std::vector<vcPtrHandle_const<vc2XformBase>>& positions() const { return positions_; }
  vcPtrHandle_const<vc2XformBase> origin() const { return origin_; }
  // Throws NotImplemented for a non-linear transform, BadParams for one that is not finite;
  // stores a clone.
  void origin(const vc2XformBase& x);

  // Appends a copy of the sub-model and one placement per position (none: left unplaced).
  void addSubModel(const vcFlexSubModel& s,
                   const std::vector<vcPtrHandle_const<vc2XformBase>>& positions);
  // Places the existing sub-model `index` once per position.
  void addSubModel(long index, const std::vector<vcPtrHandle_const<vc2XformBase>>& positions);
  // Removes placement i; the sub-model stays.
  void removeSubModel(long i);
  // Removes the sub-models no placement refers to, keeping the order of the others.
  void purgeSubModels();

  // Extent of all placements in arrangement coordinates.
  vcRect encloseRect() const;

  // Appends the graphics `flags` selects, mapped by `xform` (display from the frame of the
  // origin): 1 the origin and arrangement axes, 4 the extent, 8 every placed sub-model's shapes.
  void draw(vcGraphicList& list, const vc2XformBase& xform, unsigned long flags,
            const vcColor& color) const;

  bool operator==(const vcFlexArrangement& o) const;
  bool operator!=(const vcFlexArrangement& o) const { return !(*this == o); }

  friend vcArchive& operator||(vcArchive& ar, vcFlexArrangement& a);

 private:
  void checkPlacement_(long i) const;

  std::vector<vcFlexSubModel> subModels_;
  std::vector<long> subModelIndices_;
  std::vector<vcPtrHandle_const<vc2XformBase>> positions_;
  vcPtrHandle_const<vc2XformBase> origin_;
};

vcArchive& operator||(vcArchive& ar, vcFlexArrangement& a);

class vcFlexArrangementHelper {
 public:
  // Centre of encloseRect() relative to the origin.
  static vcVector<2> centerPt(const vcFlexArrangement& a);
  // Distance under x between the origin-relative centres of placements i and j.
  static double distance(const vcFlexArrangement& a, long i, long j, const vc2XformBase& x);
  // Distance under x between the placed centre of placement i and point p.
  static double distance(const vcFlexArrangement& a, long i, const vcVector<2>& p,
                         const vc2XformBase& x);
  // Share of placement i in the total feature area of all placements (1/n when all are 0).
  static double subModelFraction(const vcFlexArrangement& a, long i);
  // An "Arrangement" record with the drawings under `xform`, then one level down each
  // placement's sub-model record.
  static void diagDisplay(const vcFlexArrangement& a, vcDiagObject* diag, unsigned long flags,
                          const vc2XformBase& xform);
};
