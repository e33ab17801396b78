// Arrangements: placements of sub-models, their measures, equality and archive.
#include <cstdint>
#include <string>

#include "models/submod_priv.h"
#include "platform/core/vcArchive.h"
#include "vcFlexModels.h"

namespace {

using XformHandle = vcPtrHandle_const<vc2XformBase>;

XformHandle identity() { return new vc2XformLinear; }

vcXform<2> linearAt0(const vc2XformBase& x) { return x.linearXform(vcVector<2>(0, 0)).xform(); }

// Clones of the placements, each of which must be finite: a NaN placement would put its piece
// nowhere and every result at NaN.
std::vector<XformHandle> clones(const std::vector<XformHandle>& xs) {
  std::vector<XformHandle> out;
  out.reserve(xs.size());
  for (std::size_t i = 0; i < xs.size(); ++i) {
    if (!vf_IsFiniteXform(*xs[i]))
      throw vcFlexModelDefs::BadParams("Placement " + std::to_string(i) + " is not finite");
    out.emplace_back(xs[i]->clone());
  }
  return out;
}

void exchangeListTag(vcArchive& ar) {
  unsigned char tag = 0;
  ar || tag;
  if (tag != 0) throw vcArchive::UnknownVersion("", 0);
}

void exchangeXform(vcArchive& ar, XformHandle& h) {
  vc2XformBase* p = const_cast<vc2XformBase*>(h.ptr());
  serializePointer(ar, nullptr, p);
  if (ar.isLoading()) {
    if (!p) throw vcArchive::BadData("arrangement archive holds an empty transform");
    h = p;
  }
}

}  // namespace

// ------------------------------------------------------------------------------ construction

vcFlexArrangement::vcFlexArrangement(const std::vector<vcFlexSubModel>& subModels)
    : subModels_(subModels), origin_(identity()) {
  for (std::size_t i = 0; i < subModels_.size(); ++i) {
    subModelIndices_.push_back(static_cast<long>(i));
    positions_.push_back(identity());
  }
}

vcFlexArrangement::vcFlexArrangement(const std::vector<vcFlexSubModel>& subModels,
                                     const std::vector<XformHandle>& positions) {
  if (subModels.size() != positions.size())
    throw vcFlexModelDefs::BadParams("Number of sub-models must match the number of positions");
  positions_ = clones(positions);
  subModels_ = subModels;
  for (std::size_t i = 0; i < subModels_.size(); ++i)
    subModelIndices_.push_back(static_cast<long>(i));
  origin_ = identity();
}

vcFlexArrangement::vcFlexArrangement(const std::vector<vcFlexSubModel>& subModels,
                                     const std::vector<long>& indices,
                                     const std::vector<XformHandle>& positions) {
  if (indices.size() != positions.size())
    throw vcFlexModelDefs::BadParams(
        "Number of sub-model indices must match the number of positions");
  for (long k : indices)
    if (k < 0 || k >= static_cast<long>(subModels.size())) throw vcFlexModelDefs::BadIndex();
  positions_ = clones(positions);
  subModels_ = subModels;
  subModelIndices_ = indices;
  origin_ = identity();
}

// ------------------------------------------------------------------------------ mutators

void vcFlexArrangement::origin(const vc2XformBase& x) {
  if (!x.isLinear()) throw vcFlexModelDefs::NotImplemented();
  if (!vf_IsFiniteXform(x))
    throw vcFlexModelDefs::BadParams("The arrangement origin is not finite");
  origin_ = x.clone();
}

void vcFlexArrangement::addSubModel(const vcFlexSubModel& s,
                                    const std::vector<XformHandle>& positions) {
  // Everything that can fail happens before the first change.
  std::vector<XformHandle> added = clones(positions);
  vcFlexSubModel copy(s);
  const long index = static_cast<long>(subModels_.size());
  subModels_.push_back(std::move(copy));
  for (XformHandle& p : added) {
    positions_.push_back(std::move(p));
    subModelIndices_.push_back(index);
  }
}

void vcFlexArrangement::addSubModel(long index, const std::vector<XformHandle>& positions) {
  if (positions.empty()) throw vcFlexModelDefs::BadParams("No positions specified");
  if (index < 0 || index >= static_cast<long>(subModels_.size())) throw vcFlexModelDefs::BadIndex();
  std::vector<XformHandle> added = clones(positions);
  for (XformHandle& p : added) {
    positions_.push_back(std::move(p));
    subModelIndices_.push_back(index);
  }
}

void vcFlexArrangement::checkPlacement_(long i) const {
  if (i < 0 || i >= static_cast<long>(subModelIndices_.size())) throw vcFlexModelDefs::BadIndex();
}

void vcFlexArrangement::removeSubModel(long i) {
  checkPlacement_(i);
  subModelIndices_.erase(subModelIndices_.begin() + i);
  positions_.erase(positions_.begin() + i);
}

void vcFlexArrangement::purgeSubModels() {
  long k = 0;
  while (k < static_cast<long>(subModels_.size())) {
    bool used = false;
    for (long idx : subModelIndices_) used = used || idx == k;
    if (used) {
      ++k;
      continue;
    }
    subModels_.erase(subModels_.begin() + k);
    for (long& idx : subModelIndices_)
      if (idx > k) --idx;
  }
}

// ------------------------------------------------------------------------------ queries

vcRect vcFlexArrangement::encloseRect() const {
  vcRect r;
  for (std::size_t i = 0; i < positions_.size(); ++i) {
    const vcFlexSubModel& s = subModels_[static_cast<std::size_t>(subModelIndices_[i])];
    // From the sub-model's client coordinates into arrangement coordinates.
    const vcPtrHandle<vc2XformBase> h = positions_[i]->composeBase(*s.originInverse());
    const vcRect mapped = s.encloseRect().map(linearAt0(*h)).encloseRect();
    if (i == 0) {
      r = mapped;
    } else if (s.encloseRect() == vcRect()) {
      r = r.enclose(vcRect(h->mapPoint(vcVector<2>(0, 0)), vcVector<2>(0, 0)));
    } else {
      r = r.enclose(mapped);
    }
  }
  return r;
}

bool vcFlexArrangement::operator==(const vcFlexArrangement& o) const {
  if (subModels_ != o.subModels_) return false;
  if (subModelIndices_ != o.subModelIndices_) return false;
  if (positions_.size() != o.positions_.size()) return false;
  for (std::size_t i = 0; i < positions_.size(); ++i)
    if (!(linearAt0(*positions_[i]) == linearAt0(*o.positions_[i]))) return false;
  return linearAt0(*origin_) == linearAt0(*o.origin_);
}

// ------------------------------------------------------------------------------ helpers

namespace {

vcVector<2> placedCenter(const vcFlexArrangement& a, long i) {
  const vcFlexSubModel& s = a.subModels()[static_cast<std::size_t>(a.subModelIndices()[i])];
  return a.positions()[static_cast<std::size_t>(i)]->mapPoint(vcFlexSubModelHelper::centerPt(s));
}

void checkPlacement(const vcFlexArrangement& a, long i) {
  if (i < 0 || i >= static_cast<long>(a.subModelIndices().size()))
    throw vcFlexModelDefs::BadIndex();
}

}  // namespace

vcVector<2> vcFlexArrangementHelper::centerPt(const vcFlexArrangement& a) {
  return a.origin()->inverseBase()->mapPoint(a.encloseRect().center());
}

double vcFlexArrangementHelper::distance(const vcFlexArrangement& a, long i, long j,
                                         const vc2XformBase& x) {
  checkPlacement(a, i);
  checkPlacement(a, j);
  const vcPtrHandle<vc2XformBase> fromArrangement = a.origin()->inverseBase();
  const vcVector<2> pa = x.mapPoint(fromArrangement->mapPoint(placedCenter(a, j)));
  const vcVector<2> pb = x.mapPoint(fromArrangement->mapPoint(placedCenter(a, i)));
  return pb.distance(pa);
}

double vcFlexArrangementHelper::distance(const vcFlexArrangement& a, long i, const vcVector<2>& p,
                                         const vc2XformBase& x) {
  checkPlacement(a, i);
  const vcVector<2> pa = x.mapPoint(p);
  const vcVector<2> pb = x.mapPoint(placedCenter(a, i));
  return pb.distance(pa);
}

double vcFlexArrangementHelper::subModelFraction(const vcFlexArrangement& a, long i) {
  checkPlacement(a, i);
  const std::vector<long>& idx = a.subModelIndices();
  double total = 0.0;
  for (long k : idx)
    total += vcFlexSubModelHelper::featureArea(a.subModels()[static_cast<std::size_t>(k)]);
  if (total != 0.0)
    return vcFlexSubModelHelper::featureArea(
               a.subModels()[static_cast<std::size_t>(idx[static_cast<std::size_t>(i)])]) /
           total;
  return 1.0 / static_cast<double>(idx.size());
}

// ------------------------------------------------------------------------------ archive

vcArchive& operator||(vcArchive& ar, vcFlexArrangement& a) {
  // A load fills a fresh arrangement and takes it over only when complete and consistent.
  vcFlexArrangement loaded;
  vcFlexArrangement& t = ar.isLoading() ? loaded : a;

  unsigned char version = 0;
  ar || version;
  if (version != 0) throw vcArchive::UnknownVersion("submod", 852);

  exchangeListTag(ar);
  // A stored sub-model takes well over 16 bytes; an index 8, a pointer tag at least 1.
  const std::uint64_t numSub = ar.exchangeCount(t.subModels_.size(), 16);
  if (ar.isLoading()) t.subModels_.assign(static_cast<std::size_t>(numSub), vcFlexSubModel());
  for (vcFlexSubModel& s : t.subModels_) ar || s;

  exchangeListTag(ar);
  const std::uint64_t numIdx = ar.exchangeCount(t.subModelIndices_.size(), 8);
  if (ar.isLoading()) t.subModelIndices_.assign(static_cast<std::size_t>(numIdx), 0);
  for (long& k : t.subModelIndices_) ar || k;

  exchangeListTag(ar);
  const std::uint64_t numPos = ar.exchangeCount(t.positions_.size(), 1);
  if (ar.isLoading()) t.positions_.assign(static_cast<std::size_t>(numPos), XformHandle());
  for (XformHandle& p : t.positions_) exchangeXform(ar, p);

  exchangeXform(ar, t.origin_);

  if (ar.isLoading()) {
    if (numIdx != numPos)
      throw vcArchive::BadData("arrangement archive: placement lists differ in length");
    for (long k : t.subModelIndices_)
      if (k < 0 || k >= static_cast<long>(t.subModels_.size()))
        throw vcArchive::BadData("arrangement archive: sub-model index out of range");
    std::swap(a.subModels_, t.subModels_);
    std::swap(a.subModelIndices_, t.subModelIndices_);
    std::swap(a.positions_, t.positions_);
    std::swap(a.origin_, t.origin_);
  }
  return ar;
}
