// FlexAlign train parameters: the standard sub-model train parameters and per-instance ones.

#include "flexalign/flxalign_archive.h"
#include "vcFlexAlignTool.h"

vcFlexAlignTrainParams::vcFlexAlignTrainParams(const vcFlexSubModelTrainParams& standard)
    : sets_(standard) {}

vcFlexAlignTrainParams::vcFlexAlignTrainParams(const vcFlexAlignTrainParams& o) : sets_(o.sets_) {}

vcFlexAlignTrainParams& vcFlexAlignTrainParams::operator=(const vcFlexAlignTrainParams& o) {
  if (this != &o) assign_(o);
  return *this;
}

vcFlexAlignTrainParams::~vcFlexAlignTrainParams() = default;

void vcFlexAlignTrainParams::assign_(const vcFlexAlignTrainParams& o) { sets_ = o.sets_; }

const vcFlexSubModelTrainParams& vcFlexAlignTrainParams::standard() const {
  return sets_.standard();
}

void vcFlexAlignTrainParams::standard(const vcFlexSubModelTrainParams& p) { sets_.standard(p); }

void vcFlexAlignTrainParams::custom(long index, const vcFlexSubModelTrainParams& p) {
  sets_.custom(index, p);
}

const vcFlexSubModelTrainParams& vcFlexAlignTrainParams::custom(long index) const {
  return sets_.custom(index);
}

const vcFlexSubModelTrainParams& vcFlexAlignTrainParams::subModelInstanceParams(long index) const {
  return sets_.instance(index);
}

void vcFlexAlignTrainParams::restoreStandardParams(long index) { sets_.restore(index); }

bool vcFlexAlignTrainParams::operator==(const vcFlexAlignTrainParams& o) const {
  return sets_ == o.sets_;
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
  p.sets_.exchange(ar);
  return ar;
}
