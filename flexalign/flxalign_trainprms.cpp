// FlexAlign train parameters: the standard sub-model train parameters and per-instance ones.

#include "flexalign/flxalign_archive.h"
#include "vcFlexAlignTool.h"

vcFlexAlignTrainParams::vcFlexAlignTrainParams(const vcFlexSubModelTrainParams& standard)
    : own_(std::make_unique<Sets>(standard)), d_(own_.get()) {}

vcFlexAlignTrainParams::vcFlexAlignTrainParams(const vcFlexAlignTrainParams& o)
    : own_(std::make_unique<Sets>(*o.d_)), d_(own_.get()) {}

vcFlexAlignTrainParams& vcFlexAlignTrainParams::operator=(const vcFlexAlignTrainParams& o) {
  if (this != &o) assign_(o);
  return *this;
}

vcFlexAlignTrainParams::~vcFlexAlignTrainParams() = default;

// A view assigned to writes its owner's settings.
void vcFlexAlignTrainParams::assign_(const vcFlexAlignTrainParams& o) {
  if (d_ != o.d_) *d_ = *o.d_;
}

const vcFlexSubModelTrainParams& vcFlexAlignTrainParams::standard() const { return d_->standard(); }

void vcFlexAlignTrainParams::standard(const vcFlexSubModelTrainParams& p) { d_->standard(p); }

void vcFlexAlignTrainParams::custom(long index, const vcFlexSubModelTrainParams& p) {
  d_->custom(index, p);
}

const vcFlexSubModelTrainParams& vcFlexAlignTrainParams::custom(long index) const {
  return d_->custom(index);
}

const vcFlexSubModelTrainParams& vcFlexAlignTrainParams::subModelInstanceParams(long index) const {
  return d_->instance(index);
}

void vcFlexAlignTrainParams::restoreStandardParams(long index) { d_->restore(index); }

bool vcFlexAlignTrainParams::operator==(const vcFlexAlignTrainParams& o) const {
  return *d_ == *o.d_;
}

std::string vcFlexAlignTrainParams::toDebugString() const {
  return std::string(10, ' ') + "Currently FlexAlign has no global training parameters.\n";
}

vc_FlexAlignTrainParams& vcFlexAlignTrainParams::privData() {
  if (auto* self = dynamic_cast<vc_FlexAlignTrainParams*>(this)) return *self;
  if (!view_) view_.reset(new vc_FlexAlignTrainParams(vc_FlexAlignTrainParams::ViewTag{}, d_));
  return *view_;
}

const vc_FlexAlignTrainParams& vcFlexAlignTrainParams::privData() const {
  return const_cast<vcFlexAlignTrainParams&>(*this).privData();
}

vcArchive& operator||(vcArchive& ar, vcFlexAlignTrainParams& p) {
  using namespace vc_flxalign;
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw vcArchive::UnknownVersion(kSource, __LINE__);
  p.d_->exchange(ar);
  return ar;
}
