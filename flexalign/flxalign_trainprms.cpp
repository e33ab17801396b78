// FlexAlign train parameters: the standard sub-model train parameters and per-instance ones.

#include "flexalign/flxalign_archive.h"
#include "vcFlexAlignTool.h"

namespace {

using Handle = vcPtrHandle_const<vcFlexSubModelTrainParams>;

Handle cloneOf(const vcFlexSubModelTrainParams& p) { return Handle(p.clone()); }

}  // namespace

vcFlexAlignTrainParams::vcFlexAlignTrainParams(const vcFlexSubModelTrainParams& standard)
    : standard_(cloneOf(standard)) {}

vcFlexAlignTrainParams::vcFlexAlignTrainParams(const vcFlexAlignTrainParams& o) { assign_(o); }

vcFlexAlignTrainParams& vcFlexAlignTrainParams::operator=(const vcFlexAlignTrainParams& o) {
  if (this != &o) assign_(o);
  return *this;
}

vcFlexAlignTrainParams::~vcFlexAlignTrainParams() = default;

// Deep: every set is cloned, so the copy never shares a set that a caller could reach.
void vcFlexAlignTrainParams::assign_(const vcFlexAlignTrainParams& o) {
  Handle standard = cloneOf(o.standard());
  std::vector<Handle> custom;
  custom.reserve(o.custom_.size());
  for (const Handle& h : o.custom_) custom.push_back(cloneOf(*h));
  standard_ = standard;
  custom_ = std::move(custom);
  customIndices_ = o.customIndices_;
}

const vcFlexSubModelTrainParams& vcFlexAlignTrainParams::standard() const { return *standard_; }

void vcFlexAlignTrainParams::standard(const vcFlexSubModelTrainParams& p) {
  standard_ = cloneOf(p);
}

long vcFlexAlignTrainParams::findCustom_(long index) const {
  for (std::size_t i = 0; i < customIndices_.size(); ++i)
    if (customIndices_[i] == index) return static_cast<long>(i);
  return -1;
}

void vcFlexAlignTrainParams::custom(long index, const vcFlexSubModelTrainParams& p) {
  if (index < 0) throw vcFlexAlignDefs::BadIndex();
  Handle h = cloneOf(p);
  const long at = findCustom_(index);
  if (at >= 0) {
    custom_[static_cast<std::size_t>(at)] = h;
  } else {
    custom_.push_back(h);
    customIndices_.push_back(index);
  }
}

const vcFlexSubModelTrainParams& vcFlexAlignTrainParams::custom(long index) const {
  const long at = index < 0 ? -1 : findCustom_(index);
  if (at < 0) throw vcFlexAlignDefs::BadIndex();
  return *custom_[static_cast<std::size_t>(at)];
}

const vcFlexSubModelTrainParams& vcFlexAlignTrainParams::subModelInstanceParams(long index) const {
  if (standard_.isNull()) throw vcFlexAlignDefs::InternalError();
  if (index < 0) throw vcFlexAlignDefs::BadIndex();
  const long at = findCustom_(index);
  return at >= 0 ? *custom_[static_cast<std::size_t>(at)] : *standard_;
}

void vcFlexAlignTrainParams::restoreStandardParams(long index) {
  if (index < 0) throw vcFlexAlignDefs::BadIndex();
  const long at = findCustom_(index);
  if (at < 0) return;
  custom_.erase(custom_.begin() + at);
  customIndices_.erase(customIndices_.begin() + at);
}

bool vcFlexAlignTrainParams::operator==(const vcFlexAlignTrainParams& o) const {
  const vcFlexSubModelTrainParams& a = *standard_;
  const vcFlexSubModelTrainParams& b = *o.standard_;
  if (customIndices_ != o.customIndices_ || custom_.size() != o.custom_.size()) return false;
  if (!a.equal(b)) return false;
  for (std::size_t i = 0; i < custom_.size(); ++i)
    if (!custom_[i]->equal(*o.custom_[i])) return false;
  return true;
}

std::string vcFlexAlignTrainParams::toDebugString() const {
  return std::string(10, ' ') + "Currently FlexAlign has no global training parameters.\n";
}

vc_FlexAlignTrainParams& vcFlexAlignTrainParams::privData() {
  if (auto* self = dynamic_cast<vc_FlexAlignTrainParams*>(this)) return *self;
  if (!privView_.view)
    privView_.view = std::make_unique<vc_FlexAlignTrainParams>(*this);
  else
    *privView_.view = vc_FlexAlignTrainParams(*this);
  return *privView_.view;
}

const vc_FlexAlignTrainParams& vcFlexAlignTrainParams::privData() const {
  return const_cast<vcFlexAlignTrainParams&>(*this).privData();
}

vcArchive& operator||(vcArchive& ar, vcFlexAlignTrainParams& p) {
  using namespace vc_flxalign;
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw vcArchive::UnknownVersion(kSource, __LINE__);
  // Loads into locals, so a damaged archive leaves the parameters as they were.
  Handle standard = p.standard_;
  std::vector<long> indices = p.customIndices_;
  std::vector<Handle> custom = p.custom_;
  {
    auto* raw = const_cast<vcFlexSubModelTrainParams*>(standard.ptr());
    serializePointer(ar, nullptr, raw);
    if (ar.isLoading()) standard = Handle(raw);
  }
  exchangeLongs(ar, indices, __LINE__);
  exchangeHandles(ar, custom, __LINE__);
  if (ar.isLoading()) {
    if (standard.isNull() || indices.size() != custom.size())
      throw vcArchive::BadData("flxalign train parameters: missing or unmatched sets");
    for (const Handle& h : custom)
      if (h.isNull()) throw vcArchive::BadData("flxalign train parameters: empty custom set");
    p.standard_ = standard;
    p.customIndices_ = std::move(indices);
    p.custom_ = std::move(custom);
  }
  return ar;
}
