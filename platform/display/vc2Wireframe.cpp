#include "platform/display/vc2Wireframe.h"

#include <cmath>
#include <cstdint>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcArchive.h"
#include "platform/core/vcException.h"

namespace {

double scaleTol(double tol, double s) { return tol >= 0 ? tol * s : tol; }
}  // namespace

double vcDimTol::low() const {
  if (!hasTolerance()) return nominal_;
  return type_ == eRelative ? nominal_ * (1.0 - below_) : nominal_ - below_;
}

double vcDimTol::high() const {
  if (!hasTolerance()) return nominal_;
  return type_ == eRelative ? nominal_ * (1.0 + above_) : nominal_ + above_;
}

vcDimTol vcDimTol::scaled(double s) const {
  vcDimTol out = *this;
  out.nominal_ = scaleTol(nominal_, s);
  if (type_ == eAbsolute) {
    out.below_ = scaleTol(below_, s);
    out.above_ = scaleTol(above_, s);
  }
  return out;
}

vcArchive& operator||(vcArchive& ar, vcDimTol& t) {
  double nominal = t.nominal(), below = t.below(), above = t.above();
  unsigned char type = t.type();
  ar || nominal || below || above || type;
  if (ar.isLoading()) {
    if (type > vcDimTol::eRelative)
      throw vcArchive::BadData("archive holds an unknown tolerance type");
    t = vcDimTol(nominal, below, above, static_cast<vcDimTol::Type>(type));
  }
  return ar;
}

vcPersistent* vc2Wireframe::make() { return new vc2Wireframe; }

void vc2Wireframe::insertVertex(const vcVector<2>& p, double positionTol, vcRadian sweep,
                                const vcDimTol& lengthTol) {
  const bool first = poly_.numVertices() == 0;
  poly_.addVertex(p, first ? vcRadian(0) : sweep);  // validates; throws before any change
  mutating_();
  vertexTol_.push_back(positionTol);
  if (!first) lengthTol_.push_back(lengthTol);
}

void vc2Wireframe::close(vcRadian sweep, const vcDimTol& lengthTol) {
  poly_.close(sweep);
  mutating_();
  lengthTol_.push_back(lengthTol);
}

double vc2Wireframe::vertexTol(long i) const {
  poly_.vertex(i);
  return vertexTol_[static_cast<std::size_t>(i)];
}

vcDimTol vc2Wireframe::segmentLengthTol(long seg) const {
  const double len = poly_.segmentLength(seg);  // checks the index
  const vcDimTol& t = lengthTol_[static_cast<std::size_t>(seg)];
  return vcDimTol(len, t.below(), t.above(), t.type());
}

vc2Wireframe vc2Wireframe::map(const vcXform<2>& x) const {
  vc2Wireframe out(*this);
  out.poly_ = poly_.map(x);
  const double s = std::sqrt(std::fabs(x.matrix().det()));
  for (auto& t : out.vertexTol_) t = scaleTol(t, s);
  for (auto& t : out.lengthTol_) t = t.scaled(s);
  return out;
}

vc2Wireframe vc2Wireframe::map(const vc2XformBase& x) const {
  vc2Wireframe out(*this);
  out.poly_ = poly_.map(x);
  for (long i = 0; i < numVertices(); ++i) {
    const double s = std::sqrt(std::fabs(x.linearXform(vertex(i)).xform().matrix().det()));
    out.vertexTol_[static_cast<std::size_t>(i)] =
        scaleTol(vertexTol_[static_cast<std::size_t>(i)], s);
  }
  for (long i = 0; i < numSegments(); ++i) {
    const double s =
        std::sqrt(std::fabs(x.linearXform(poly_.pointAt(i, 0.5)).xform().matrix().det()));
    out.lengthTol_[static_cast<std::size_t>(i)] = lengthTol_[static_cast<std::size_t>(i)].scaled(s);
  }
  return out;
}

void vc2Wireframe::reInit() {
  mutating_();
  poly_ = vcGenPoly();
  vertexTol_.clear();
  lengthTol_.clear();
}

void vc2Wireframe::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vc2Wireframe))) return;
  const unsigned char version = vfExchangeVersion(ar, 0, 0, "vc2Wireframe");
  serialize_(ar, version);
  ar.setVisited(this, typeid(vc2Wireframe));
}

void vc2Wireframe::serialize_(vcArchive& ar, unsigned char) {
  bool closed = poly_.closed();
  ar || closed;
  // Per vertex: a point (16 bytes) and a tolerance (8); per segment at least 8 + 25 more.
  const std::uint64_t n =
      ar.exchangeCount(static_cast<std::uint64_t>(numVertices()), closed ? 57 : 24);
  if (ar.isStoring()) {
    for (long i = 0; i < numVertices(); ++i) {
      vcVector<2> p = vertex(i);
      double tol = vertexTol_[static_cast<std::size_t>(i)];
      ar || p || tol;
    }
    for (long i = 0; i < numSegments(); ++i) {
      double s = poly_.sweep(i).toDouble();
      ar || s || lengthTol_[static_cast<std::size_t>(i)];
    }
    return;
  }
  // Build a fresh wireframe so that damaged data leaves this one unchanged.
  std::vector<vcVector<2>> pts(n);
  std::vector<double> tols(n);
  for (std::uint64_t i = 0; i < n; ++i) ar || pts[i] || tols[i];
  const std::uint64_t segs = closed ? n : (n == 0 ? 0 : n - 1);
  if (closed && n < 2) throw vcArchive::BadData("archive holds a closed wireframe of one vertex");
  std::vector<double> sweeps(segs);
  std::vector<vcDimTol> lenTols(segs);
  for (std::uint64_t i = 0; i < segs; ++i) ar || sweeps[i] || lenTols[i];
  vc2Wireframe w;
  try {
    for (std::uint64_t i = 0; i < n; ++i)
      w.insertVertex(pts[i], tols[i], vcRadian(i == 0 ? 0.0 : sweeps[i - 1]),
                     i == 0 ? vcDimTol() : lenTols[i - 1]);
    if (closed) w.close(vcRadian(sweeps[segs - 1]), lenTols[segs - 1]);
  } catch (const vcBadParams& e) {
    throw vcArchive::BadData("archive holds an invalid wireframe: " + e.message());
  }
  mutating_();
  poly_ = std::move(w.poly_);
  vertexTol_ = std::move(w.vertexTol_);
  lengthTol_ = std::move(w.lengthTol_);
}
