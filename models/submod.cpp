// Sub-models: construction and validation, derived data, copies, equality and archive.
#include <cstdint>

#include "engines/geofind/vcGFAlign.h"
#include "models/submod_priv.h"
#include "platform/core/vcArchive.h"
#include "vcFlexModels.h"

namespace {

vcPtrHandle_const<vc2XformBase> identity() { return new vc2XformLinear; }

// A pixel copy that keeps the window's root coordinates, so offsets and the client transform
// still mean the same pixels.
vcPelBuffer_const<unsigned char> copyPels(const vcPelBuffer_const<unsigned char>& src) {
  if (!src.isBound()) return {};
  vcPelBuffer<unsigned char> dst(src.window(), 1);
  vfPelCopy(src, dst);
  dst.clientFromImageXform(src.clientFromImageXform());
  return dst;
}

vcPtrHandle_const<vc2XformBase> cloneOf(const vcPtrHandle_const<vc2XformBase>& x) {
  return x.isNull() ? x : vcPtrHandle_const<vc2XformBase>(x->clone());
}

vcXform<2> linearAt0(const vc2XformBase& x) { return x.linearXform(vcVector<2>(0, 0)).xform(); }

bool sameLinear(const vcPtrHandle_const<vc2XformBase>& a,
                const vcPtrHandle_const<vc2XformBase>& b) {
  return linearAt0(*a) == linearAt0(*b);
}

// Offset, window and pixels of two optional buffers, then their client transforms.
bool sameBuffer(const vcPelBuffer_const<unsigned char>& a,
                const vcPelBuffer_const<unsigned char>& b) {
  if (a.offset() != b.offset()) return false;
  if (a.isBound() != b.isBound()) return false;
  if (a.isBound() && (a.window() != b.window() || !vfPelEqual(a, b))) return false;
  // Equal forward transforms have equal inverses; comparing them avoids inverting a
  // singular one.
  return a.clientFromImageXform() == b.clientFromImageXform();
}

// Maps the engine's symmetry flags onto the 4-bit code the sub-model reports.
unsigned long symmetryCode(unsigned long flags) {
  const unsigned long f = flags & 0xFFul;
  unsigned long code = 0;
  if (f & 0x01ul) code |= 1ul;
  if (f & 0x22ul) code |= 2ul;
  if (f & 0x5Cul) code |= 4ul;
  if ((f & 0x80ul) || ((code & 1ul) && (code & 6ul))) code |= 8ul;
  return code;
}

void exchangeListTag(vcArchive& ar) {
  unsigned char tag = 0;
  ar || tag;
  if (tag != 0) throw vcArchive::UnknownVersion("", 0);
}

void exchangeXform(vcArchive& ar, vcPtrHandle_const<vc2XformBase>& h) {
  vc2XformBase* p = const_cast<vc2XformBase*>(h.ptr());
  serializePointer(ar, nullptr, p);
  if (ar.isLoading()) h = p;
}

}  // namespace

// ------------------------------------------------------------------------------ construction

void vcFlexSubModel::clear_() {
  image_ = {};
  mask_ = {};
  weights_.clear();
  shapes_.clear();
  clientFromImage_ = identity();
  imageFromClient_ = identity();
  origin_ = identity();
  originInverse_ = identity();
  name_.clear();
  featureArea_ = 0.0;
  symmetry_ = 0;
  symmetryParams_ = vcVector<2>();
  encloseRect_ = vcRect();
  encloseImageRect_ = vcRect();
  modelType_ = vcFlexModelDefs::eBlank;
}

vcFlexSubModel::vcFlexSubModel(const std::string& name) {
  clear_();
  name_ = name;
  updateDerived_();
}

vcFlexSubModel::vcFlexSubModel(const vcPelBuffer_const<unsigned char>& image,
                               const std::string& name) {
  clear_();
  name_ = name;
  setImage_(image, nullptr);
}

vcFlexSubModel::vcFlexSubModel(const vcPelBuffer_const<unsigned char>& image,
                               const vcPelBuffer_const<unsigned char>& mask,
                               const std::string& name) {
  clear_();
  name_ = name;
  setImage_(image, &mask);
}

vcFlexSubModel::vcFlexSubModel(const std::vector<vc2Wireframe>& shapes,
                               const vc2XformBase& clientFromImage, const std::string& name) {
  clear_();
  name_ = name;
  setSynthetic_(shapes, std::vector<double>(), clientFromImage, false);
}

vcFlexSubModel::vcFlexSubModel(const std::vector<vc2Wireframe>& shapes,
                               const std::vector<double>& weights,
                               const vc2XformBase& clientFromImage, const std::string& name) {
  clear_();
  name_ = name;
  setSynthetic_(shapes, weights, clientFromImage, true);
}

void vcFlexSubModel::setImage_(const vcPelBuffer_const<unsigned char>& image,
                               const vcPelBuffer_const<unsigned char>* mask) {
  if (!image.isBound()) throw vcFlexModelDefs::BadParams("The image is unbound");
  if (image.window().isNull()) throw vcFlexModelDefs::BadParams("The image has a Null Window");
  if (!vf_IsFiniteXform(*image.clientFromImageXformBase()))
    throw vcFlexModelDefs::BadParams("Sub-model '" + name_ +
                                     "': the image's client transform is not finite");
  if (mask) {
    if (!mask->isBound()) throw vcFlexModelDefs::BadParams("Mask image has to be bound");
    if (mask->window() != image.window())
      throw vcFlexModelDefs::BadParams("Mask image size does not match image size");
  }
  modelType_ = vcFlexModelDefs::eImage;
  image_ = image;
  mask_ = mask ? *mask : vcPelBuffer_const<unsigned char>();
  origin_ = identity();
  clientFromImage_ = image.clientFromImageXformBase()->clone();
  imageFromClient_ = new vc2XformLinear(image.imageFromClientXform());
  symmetry_ = 0;
  symmetryParams_ = vcVector<2>();
  updateDerived_();

  if (!mask) {
    featureArea_ = static_cast<double>(image.width() * image.height());
  } else {
    long count = 0;
    for (long y = 0; y < image.height(); ++y) {
      const unsigned char* m = mask->row(y);
      for (long x = 0; x < image.width(); ++x) count += m[x] >= 128 ? 1 : 0;
    }
    featureArea_ = static_cast<double>(count);
  }
  extractSymmetry_();
}

// The copy shares origin handles and clones the client transforms.
vcFlexSubModel::vcFlexSubModel(const vcFlexSubModel& o)
    : image_(copyPels(o.image_)),
      mask_(copyPels(o.mask_)),
      weights_(o.weights_),
      shapes_(o.shapes_),
      clientFromImage_(cloneOf(o.clientFromImage_)),
      imageFromClient_(cloneOf(o.imageFromClient_)),
      origin_(o.origin_),
      originInverse_(o.originInverse_),
      name_(o.name_),
      featureArea_(o.featureArea_),
      symmetry_(o.symmetry_),
      symmetryParams_(o.symmetryParams_),
      encloseRect_(o.encloseRect_),
      encloseImageRect_(o.encloseImageRect_),
      modelType_(o.modelType_) {}

vcFlexSubModel& vcFlexSubModel::operator=(const vcFlexSubModel& o) {
  if (this != &o) {
    vcFlexSubModel copy(o);
    swap_(copy);
  }
  return *this;
}

void vcFlexSubModel::swap_(vcFlexSubModel& o) noexcept {
  std::swap(image_, o.image_);
  std::swap(mask_, o.mask_);
  std::swap(weights_, o.weights_);
  std::swap(shapes_, o.shapes_);
  std::swap(clientFromImage_, o.clientFromImage_);
  std::swap(imageFromClient_, o.imageFromClient_);
  std::swap(origin_, o.origin_);
  std::swap(originInverse_, o.originInverse_);
  std::swap(name_, o.name_);
  std::swap(featureArea_, o.featureArea_);
  std::swap(symmetry_, o.symmetry_);
  std::swap(symmetryParams_, o.symmetryParams_);
  std::swap(encloseRect_, o.encloseRect_);
  std::swap(encloseImageRect_, o.encloseImageRect_);
  std::swap(modelType_, o.modelType_);
}

vcFlexSubModel::~vcFlexSubModel() = default;

// ------------------------------------------------------------------------------ accessors

void vcFlexSubModel::origin(const vc2XformBase& x) {
  if (!x.isLinear()) throw vcFlexModelDefs::NotImplemented();
  if (!vf_IsFiniteXform(x))
    throw vcFlexModelDefs::BadParams("Sub-model '" + name_ + "': the origin is not finite");
  origin_ = x.clone();
  updateDerived_();
}

const vcPelBuffer_const<unsigned char>& vcFlexSubModel::image() const {
  if (modelType_ != vcFlexModelDefs::eImage) throw vcFlexModelDefs::WrongModelType();
  return image_;
}

const vcPelBuffer_const<unsigned char>& vcFlexSubModel::mask() const {
  if (modelType_ != vcFlexModelDefs::eImage) throw vcFlexModelDefs::WrongModelType();
  return mask_;
}

const std::vector<vc2Wireframe>& vcFlexSubModel::shapes() const {
  if (modelType_ != vcFlexModelDefs::eSynthetic) throw vcFlexModelDefs::WrongModelType();
  return shapes_;
}

const std::vector<double>& vcFlexSubModel::weights() const {
  if (modelType_ != vcFlexModelDefs::eSynthetic) throw vcFlexModelDefs::WrongModelType();
  return weights_;
}

// ------------------------------------------------------------------------------ derived data

void vcFlexSubModel::updateDerived_() {
  switch (modelType_) {
    case vcFlexModelDefs::eSynthetic:
      encloseRect_ = vf_SyntheticBounds(shapes_, weights_, vcXform<2>());
      encloseImageRect_ = vf_SyntheticBounds(shapes_, weights_, linearAt0(*imageFromClient_));
      break;
    case vcFlexModelDefs::eImage: {
      const vcPelRect w = image_.window();
      const auto pt = [](const vcPair<long>& p) {
        return vcVector<2>(static_cast<double>(p.x()), static_cast<double>(p.y()));
      };
      const vcPolygon corners({pt(w.ul()), pt(w.ur()), pt(w.lr()), pt(w.ll())});
      encloseRect_ = corners.map(image_.clientFromImageXform()).encloseRect();
      encloseImageRect_ = corners.encloseRect();
      break;
    }
    case vcFlexModelDefs::eBlank:
      encloseRect_ = vcRect(0, 0, 0, 0);
      encloseImageRect_ = vcRect(0, 0, 0, 0);
      break;
    default:
      encloseRect_ = vcRect();
      encloseImageRect_ = vcRect();
      break;
  }
  try {
    originInverse_ = origin_->inverseBase();
  } catch (const vcMathError::Singular&) {
    originInverse_ = identity();
  }
}

// A throw-away training only to read the pattern's symmetry; a failed training leaves the
// code at 0, but a time-out is the caller's to see.
void vcFlexSubModel::extractSymmetry_() {
  try {
    vcGFAlignPattern pattern;
    // The symmetry is read from the sharp level-0 edges; the blurred scales would only cost.
    pattern.trainBlurredScales(false);
    if (modelType_ == vcFlexModelDefs::eImage) {
      if (mask_.isBound())
        pattern.train(image_, mask_, 1, nullptr, 0);
      else
        pattern.train(image_, 1, nullptr, 0);
    } else {
      pattern.train(shapes_, weights_, linearAt0(*clientFromImage_), 1, nullptr, 0);
    }
    vc_GFPatternInfo info;
    info.request = 1;
    info.value1 = 0.0;
    info.value2 = 0.0;
    info.flags = ~0ul;
    pattern.getInfo(info);
    symmetry_ = symmetryCode(info.flags);
    symmetryParams_ = vcVector<2>(info.value1, info.value2);
  } catch (const vcTimeout::Expired&) {
    throw;
  } catch (const vcException&) {
    symmetry_ = 0;
    symmetryParams_ = vcVector<2>();
  }
}

// ------------------------------------------------------------------------------ equality

bool vcFlexSubModel::operator==(const vcFlexSubModel& o) const {
  if (!(shapes_ == o.shapes_) || weights_ != o.weights_) return false;
  if (modelType_ != o.modelType_ || name_ != o.name_ || featureArea_ != o.featureArea_ ||
      symmetry_ != o.symmetry_ || symmetryParams_ != o.symmetryParams_)
    return false;
  if (!sameLinear(clientFromImage_, o.clientFromImage_) ||
      !sameLinear(imageFromClient_, o.imageFromClient_) || !sameLinear(origin_, o.origin_))
    return false;
  return sameBuffer(image_, o.image_) && sameBuffer(mask_, o.mask_);
}

// ------------------------------------------------------------------------------ helpers

double vcFlexSubModelHelper::featureArea(const vcFlexSubModel& s) { return s.featureArea_; }

vcVector<2> vcFlexSubModelHelper::centerPt(const vcFlexSubModel& s) {
  return s.originInverse_->mapPoint(s.encloseRect_.center());
}

// ------------------------------------------------------------------------------ archive

vcArchive& operator||(vcArchive& ar, vcFlexSubModel& s) {
  // A load fills a fresh object and takes it over only when complete, so damaged data leaves
  // the target as it was.
  vcFlexSubModel loaded;
  vcFlexSubModel& t = ar.isLoading() ? loaded : s;

  unsigned char version = 0;
  ar || version;
  if (version != 0) throw vcArchive::UnknownVersion("submod", 390);
  unsigned char type = static_cast<unsigned char>(t.modelType_);
  ar || type;
  ar || t.image_;
  ar || t.symmetry_;
  ar || t.symmetryParams_;
  ar || t.mask_;

  exchangeListTag(ar);
  // A wireframe takes at least a class byte and a count; weights 8 bytes each.
  const std::uint64_t numShapes = ar.exchangeCount(t.shapes_.size(), 2);
  if (ar.isLoading()) t.shapes_.assign(static_cast<std::size_t>(numShapes), vc2Wireframe());
  for (vc2Wireframe& w : t.shapes_) ar || static_cast<vcPersistent&>(w);

  exchangeListTag(ar);
  const std::uint64_t numWeights = ar.exchangeCount(t.weights_.size(), 8);
  if (ar.isLoading()) t.weights_.assign(static_cast<std::size_t>(numWeights), 0.0);
  for (double& w : t.weights_) ar || w;

  ar || t.name_;
  exchangeXform(ar, t.clientFromImage_);
  exchangeXform(ar, t.imageFromClient_);
  ar || t.featureArea_;
  exchangeXform(ar, t.origin_);

  t.modelType_ = static_cast<vcFlexModelDefs::ModelType>(type);
  if (ar.isLoading()) {
    // Empty handles would fail later in every use; damaged data is refused here.
    if (t.clientFromImage_.isNull() || t.imageFromClient_.isNull() || t.origin_.isNull())
      throw vcArchive::BadData("sub-model archive holds an empty transform");
    // The image accessors and derived data rely on the kind matching the content.
    if (type < vcFlexModelDefs::eBlank || type > vcFlexModelDefs::eSynthetic)
      throw vcArchive::BadData("sub-model archive holds an unknown kind");
  }
  t.updateDerived_();
  if (ar.isLoading()) s.swap_(loaded);
  return ar;
}
