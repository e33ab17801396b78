#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/core/vcArchive.h"
#include "vcFlexGeometry.h"

namespace {

constexpr const char* kSourceName = "xfinterp";

// Inside this radius of a key point the exponential scheme uses that key alone.
constexpr double kNearRadius = 0.2;
constexpr double kNearWeight = 1.0 / kNearRadius;
// Weight of the all-keys average in the Gaussian scheme: negligible near any key, dominant
// once every Gaussian has decayed.
constexpr double kGaussianFloorWeight = 1e-10;

// Angle of the direction (c, s) in [-pi/2, 3pi/2): the blend of rotations is the direction of
// the weighted sum of their unit vectors, so 350 and 10 degrees meet at 0, not 180.
double angleOfSums(double s, double c) {
  if (c == 0.0) {
    if (s > 0.0) return vcPi / 2;
    if (s < 0.0) return 3 * vcPi / 2;
    return 0.0;
  }
  const double a = std::atan(s / c);
  return c < 0.0 ? a + vcPi : a;
}

using Parts = vc2XformInterpMap::KeyParts;

// A linear transform taken apart as the weighted average below needs it.
Parts partsOf(const vc2XformLinear& lin) {
  const vcMatrix<2>& m = lin.matrix();
  const double xr = m.xRot().toDouble(), yr = m.yRot().toDouble(), ys = m.yScale();
  return {std::sin(xr), std::cos(xr),         std::sin(yr),
          std::cos(yr), std::log(m.xScale()), std::log(std::fabs(ys)),
          ys < 0,       lin.trans().x(),      lin.trans().y()};
}

// The parts of every key at p: the map's own when it keeps them (all keys linear), else taken
// apart here.
std::vector<Parts> partsAt(const std::vector<Parts>& kept, const vc2XformInterpMap::KeyXforms& keys,
                           const vcVector<2>& p) {
  if (!kept.empty()) return kept;
  std::vector<Parts> r;
  r.reserve(keys.size() + 1);
  for (const auto& h : keys) r.push_back(partsOf(h->linearXform(p)));
  return r;
}

// Weighted average of linear transforms: rotations by their mean direction, scales by their
// weighted geometric mean, translations by their weighted arithmetic mean. The mean is a ratio
// of sums, so scaling every weight by one factor leaves it unchanged.
vc2XformLinear weightedAverageXform(const std::vector<Parts>& keys,
                                    const std::vector<double>& weights) {
  double sinX = 0, cosX = 0, sinY = 0, cosY = 0;
  // Scales are accumulated as logarithms: the product of powers is the exponential of this
  // sum, which keeps its precision when the weights are tiny (far Gaussian tails).
  double logXs = 0, logYs = 0, mirror = 0;
  double tx = 0, ty = 0, wSum = 0;
  for (std::size_t k = 0; k < keys.size(); ++k) {
    const double w = weights[k];
    if (w == 0.0) continue;
    const Parts& q = keys[k];
    sinX += w * q.sinX;
    cosX += w * q.cosX;
    sinY += w * q.sinY;
    cosY += w * q.cosY;
    logXs += w * q.logXs;
    logYs += w * q.logYs;
    // A mirroring key has a negative y scale; the blend mirrors when such keys dominate.
    mirror += q.mirrored ? -w : w;
    tx += w * q.tx;
    ty += w * q.ty;
    wSum += w;
  }
  const double xs = std::exp(logXs / wSum);
  const double ys = std::exp(logYs / wSum) * (mirror < 0 ? -1.0 : 1.0);
  const vcMatrix<2> m(vcRadian(angleOfSums(sinX, cosX)), vcRadian(angleOfSums(sinY, cosY)), xs, ys);
  return vc2XformLinear(m, vcVector<2>(tx / wSum, ty / wSum));
}

double distance(const vcVector<2>& a, const vcVector<2>& b) {
  const double dx = a.x() - b.x(), dy = a.y() - b.y();
  return std::sqrt(dx * dx + dy * dy);
}

// Distance from each key point to its nearest other key point: the reach of that key in the
// Gaussian and linear schemes.
std::vector<double> nearestOtherDistances(const vc2XformInterpMap::KeyPoints& pts) {
  std::vector<double> r(pts.size(), std::numeric_limits<double>::infinity());
  for (std::size_t i = 0; i < pts.size(); ++i)
    for (std::size_t j = 0; j < pts.size(); ++j)
      if (i != j) r[i] = std::min(r[i], distance(pts[i], pts[j]));
  for (double d : r)
    if (!(d > 0.0)) throw vc2XformInterpMap::BadParams();
  return r;
}

vc2XformLinear exponentialBlend(const std::vector<Parts>& parts,
                                const vc2XformInterpMap::KeyPoints& pts, const vcVector<2>& p) {
  std::vector<double> w(pts.size());
  double top = 0;
  for (std::size_t k = 0; k < pts.size(); ++k) {
    const double d = distance(pts[k], p);
    w[k] = d >= kNearRadius ? 1.0 / d : kNearWeight;
    top = std::max(top, w[k]);
  }
  if (top == kNearWeight)
    for (double& x : w)
      if (x < top) x = 0;
  return weightedAverageXform(parts, w);
}

vc2XformLinear linearBlend(const vc2XformInterpMap::KeyXforms& keys, const std::vector<Parts>& kept,
                           const vc2XformInterpMap::KeyPoints& pts, const vcVector<2>& p) {
  const std::vector<double> r = nearestOtherDistances(pts);
  std::vector<double> w(pts.size());
  bool any = false;
  for (std::size_t k = 0; k < pts.size(); ++k) {
    const double d = distance(pts[k], p);
    w[k] = d < r[k] ? (r[k] - d) / r[k] : 0.0;
    any = any || w[k] != 0.0;
  }
  if (!any) {
    // Outside every key's reach: the plain average of all keys.
    std::fill(w.begin(), w.end(), 1.0 / static_cast<double>(pts.size()));
    return weightedAverageXform(partsAt(kept, keys, vcVector<2>()), w);
  }
  return weightedAverageXform(partsAt(kept, keys, p), w);
}

vc2XformLinear gaussianBlend(const vc2XformInterpMap::KeyXforms& keys,
                             const std::vector<Parts>& kept,
                             const vc2XformInterpMap::KeyPoints& pts, const vcVector<2>& p) {
  const std::vector<double> r = nearestOtherDistances(pts);
  const std::size_t n = pts.size();
  // Normal density with sigma a quarter of the key's reach: about exp(-8) of the peak at the
  // nearest other key point.
  std::vector<double> w(n + 1);
  for (std::size_t k = 0; k < n; ++k) {
    const double sigma = 0.25 * r[k];
    const double d = distance(pts[k], p);
    w[k] = std::exp(-d * d / (2 * sigma * sigma)) / (sigma * std::sqrt(2 * vcPi));
  }
  const vc2XformLinear mean = weightedAverageXform(
      partsAt(kept, keys, vcVector<2>()), std::vector<double>(n, 1.0 / static_cast<double>(n)));
  std::vector<Parts> ks = partsAt(kept, keys, p);
  ks.push_back(partsOf(mean));
  w[n] = kGaussianFloorWeight;
  return weightedAverageXform(ks, w);
}

void requireLinear(const vc2XformBase& xf) {
  if (!xf.isLinear()) throw vc2XformInterpMap::NotImplemented();
}

}  // namespace

// ---- errors ----------------------------------------------------------------------------------

void vc2XformInterpMap::BadParams::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(BadParams))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  ar.setVisited(this, typeid(BadParams));
}

void vc2XformInterpMap::BadParams::serialize_(vcArchive& ar, unsigned char version) {
  if (version != 0) throw vcArchive::UnknownVersion("vc2XformInterpMap::BadParams", 0);
  vc2XformDefs::Errors::dispatchSerialize(ar);
}

long vc2XformInterpMap::BadParams::errorNumber() const { return 0x10005D31; }

void vc2XformInterpMap::BadParams::suicideAndRethrow() {
  BadParams copy(*this);
  delete this;
  throw copy;
}

vcPersistent* vc2XformInterpMap::BadParams::make() { return new BadParams; }

void vc2XformInterpMap::NotImplemented::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(NotImplemented))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  ar.setVisited(this, typeid(NotImplemented));
}

void vc2XformInterpMap::NotImplemented::serialize_(vcArchive& ar, unsigned char version) {
  if (version != 0) throw vcArchive::UnknownVersion("vc2XformInterpMap::NotImplemented", 0);
  vc2XformDefs::Errors::dispatchSerialize(ar);
}

long vc2XformInterpMap::NotImplemented::errorNumber() const { return 0x10005D32; }

void vc2XformInterpMap::NotImplemented::suicideAndRethrow() {
  NotImplemented copy(*this);
  delete this;
  throw copy;
}

vcPersistent* vc2XformInterpMap::NotImplemented::make() { return new NotImplemented; }

// ---- construction ----------------------------------------------------------------------------

vc2XformInterpMap::vc2XformInterpMap()
    : keyXforms_{vcPtrHandle_const<vc2XformBase>(new vc2XformLinear)}, keyPoints_{vcVector<2>()} {
  keepParts_();
}

vc2XformInterpMap::vc2XformInterpMap(const vc2XformBase& xf, const vcVector<2>& pt) {
  requireLinear(xf);
  keyXforms_.push_back(xf.clone());
  keyPoints_.push_back(pt);
  keepParts_();
}

vc2XformInterpMap::vc2XformInterpMap(const KeyXforms& keyXforms, const KeyPoints& keyPoints) {
  if (keyXforms.size() != keyPoints.size() || keyXforms.empty()) throw BadParams();
  // Repeated key points, found in sorted order (a map may hold thousands of keys).
  std::vector<vcVector<2>> sorted = keyPoints;
  std::sort(sorted.begin(), sorted.end(), [](const vcVector<2>& a, const vcVector<2>& b) {
    return a.x() < b.x() || (a.x() == b.x() && a.y() < b.y());
  });
  for (std::size_t i = 1; i < sorted.size(); ++i)
    if (sorted[i].x() == sorted[i - 1].x() && sorted[i].y() == sorted[i - 1].y()) throw BadParams();
  for (const auto& h : keyXforms) requireLinear(*h);  // an empty handle throws vcBadPointer
  keyXforms_ = keyXforms;
  keyPoints_ = keyPoints;
  keepParts_();
}

vc2XformInterpMap::vc2XformInterpMap(const vc2XformInterpMap& other)
    : vcPersistent(other),
      vc2XformBase(other),
      keyXforms_(other.keyXforms_),
      keyPoints_(other.keyPoints_),
      interpolationMode_(other.interpolationMode_),
      parts_(other.parts_) {}

vc2XformInterpMap& vc2XformInterpMap::operator=(const vc2XformInterpMap& other) {
  if (this != &other) {
    mutating_();
    keyXforms_ = other.keyXforms_;
    keyPoints_ = other.keyPoints_;
    interpolationMode_ = other.interpolationMode_;
    parts_ = other.parts_;
  }
  return *this;
}

void vc2XformInterpMap::keepParts_() {
  parts_.clear();
  std::vector<KeyParts> parts;
  parts.reserve(keyXforms_.size());
  for (const auto& h : keyXforms_) {
    if (!h->isLinear()) return;
    parts.push_back(partsOf(h->linearXform(vcVector<2>())));
  }
  parts_ = std::move(parts);
}

vc2XformInterpMap::~vc2XformInterpMap() = default;

vcPersistent* vc2XformInterpMap::make() { return new vc2XformInterpMap; }

void vc2XformInterpMap::addKeyXform(const vc2XformBase& xf, vcVector<2> pt) {
  requireLinear(xf);
  vcPtrHandle_const<vc2XformBase> copy = xf.clone();
  mutating_();
  keyXforms_.push_back(std::move(copy));
  keyPoints_.push_back(pt);
  keepParts_();
}

void vc2XformInterpMap::interpolationMode(InterpolationType mode) {
  mutating_();
  interpolationMode_ = mode;
}

// ---- mapping ---------------------------------------------------------------------------------

vc2XformLinear vc2XformInterpMap::linearXform(const vcVector<2>& p) const {
  if (interpolationMode_ != eGaussian && interpolationMode_ != eExponential &&
      interpolationMode_ != eLinear)
    throw NotImplemented();
  if (keyXforms_.size() == 1) return keyXforms_.front()->linearXform(p);
  switch (interpolationMode_) {
    case eGaussian:
      return gaussianBlend(keyXforms_, parts_, keyPoints_, p);
    case eLinear:
      return linearBlend(keyXforms_, parts_, keyPoints_, p);
    default:
      if (!parts_.empty()) return exponentialBlend(parts_, keyPoints_, p);
      return exponentialBlend(partsAt(parts_, keyXforms_, p), keyPoints_, p);
  }
}

vcVector<2> vc2XformInterpMap::mapPoint(const vcVector<2>& p) const {
  return linearXform(p).mapPoint(p);
}

bool vc2XformInterpMap::isLinear() const {
  if (keyXforms_.empty()) return true;
  const vcVector<2> origin;
  const vc2XformLinear first = keyXforms_.front()->linearXform(origin);
  for (const auto& h : keyXforms_)
    if (!h->isLinear() || !(h->linearXform(origin) == first)) return false;
  return true;
}

vcPtrHandle<vc2XformBase> vc2XformInterpMap::inverseBase() const {
  KeyXforms xforms;
  KeyPoints points;
  xforms.reserve(keyXforms_.size());
  points.reserve(keyPoints_.size());
  for (std::size_t k = 0; k < keyXforms_.size(); ++k) {
    points.push_back(keyXforms_[k]->mapPoint(keyPoints_[k]));
    xforms.push_back(keyXforms_[k]->inverseBase());
  }
  auto* inv = new vc2XformInterpMap(xforms, points);
  inv->interpolationMode_ = interpolationMode_;
  return vcPtrHandle<vc2XformBase>(inv);
}

vcPtrHandle<vc2XformBase> vc2XformInterpMap::composeBase(const vc2XformBase& other) const {
  return vfComposeXformsGeneric(*this, other);
}

vcPtrHandle<vc2XformBase> vc2XformInterpMap::clone() const {
  return vcPtrHandle<vc2XformBase>(new vc2XformInterpMap(*this));
}

// ---- archive ---------------------------------------------------------------------------------

void vc2XformInterpMap::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vc2XformInterpMap))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  ar.setVisited(this, typeid(vc2XformInterpMap));
}

void vc2XformInterpMap::serialize_(vcArchive& ar, unsigned char version) {
  if (version != 0) throw vcArchive::UnknownVersion(kSourceName, __LINE__);
  // The abstract transform level holds no fields and writes nothing of its own.

  if (ar.isStoring()) {
    unsigned char listVersion = 0;
    auto count = static_cast<unsigned int>(keyXforms_.size());
    ar || listVersion || count;
    for (const auto& h : keyXforms_) {
      auto* p = const_cast<vc2XformBase*>(h.ptr());
      serializePointer(ar, this, p);
    }
    count = static_cast<unsigned int>(keyPoints_.size());
    ar || listVersion || count;
    for (vcVector<2> pt : keyPoints_) ar || pt;
    int mode = interpolationMode_;
    ar || mode;
    return;
  }

  // Load into locals so that a failed load leaves the map as it was.
  unsigned char listVersion = 0;
  unsigned int count = 0;
  ar || listVersion;
  if (listVersion != 0) throw vcArchive::UnknownVersion(kSourceName, __LINE__);
  ar || count;
  if (count > ar.remaining()) throw vcArchive::BadData("archive key transform count too large");
  KeyXforms xforms;
  for (unsigned int i = 0; i < count; ++i) {
    vc2XformBase* p = nullptr;
    serializePointer(ar, this, p);
    if (!p) throw vcArchive::BadData("archive holds an empty key transform");
    xforms.emplace_back(p);
  }
  ar || listVersion;
  if (listVersion != 0) throw vcArchive::UnknownVersion(kSourceName, __LINE__);
  ar || count;
  if (count > ar.remaining() / 16) throw vcArchive::BadData("archive key point count too large");
  KeyPoints points(count);
  for (vcVector<2>& pt : points) ar || pt;
  int mode = 0;
  ar || mode;
  // Mapping indexes both lists together; a map without keys has no meaning.
  if (xforms.size() != points.size() || xforms.empty())
    throw vcArchive::BadData("archive key transforms and key points do not match");
  mutating_();
  keyXforms_ = std::move(xforms);
  keyPoints_ = std::move(points);
  interpolationMode_ = static_cast<InterpolationType>(mode);
  keepParts_();
}
