// The deformation a result describes: each found piece's own map over its footprint, blended
// between footprints and falling back to the fitted part pose far from every piece.

#include "flexalign/flxalign_deform.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "flexalign/flxalign_archive.h"
#include "platform/core/vcText.h"
#include "vcFlexAlignTool.h"
#include "vcFlexLimits.h"

namespace vc_flxalign {

namespace {

// Share of a point lying on a footprint's boundary when several footprints hold it, so that the
// shares never all vanish.
constexpr double kBoundaryShare = 1e-9;
constexpr double kMaxDistance = vcFlexLimits::kMaxRectifyDistance;

}  // namespace

DeformBlend::DeformBlend(const vcFlexAlignDeformation& d, const vcFlexRectifyParams& params)
    : d_(d) {
  if (!(params.reach >= 0 && params.reach <= kMaxDistance))
    throw vcFlexAlignDefs::BadParams(
        "The rectify reach must be 0 (the pieces' own size) or a distance up to " +
        vfBoundStr(kMaxDistance) + "; it is " + vfStr(params.reach));
  if (!(params.margin >= 0 && params.margin <= kMaxDistance))
    throw vcFlexAlignDefs::BadParams("The rectify margin must be 0 to " + vfBoundStr(kMaxDistance) +
                                     "; it is " + vfStr(params.margin));
  const double r = params.reach > 0 ? params.reach : d.defaultReach();
  invReach2_ = 1.0 / (r * r);
  const double m = params.margin;
  for (std::size_t k = 0; k < d.pieces().size(); ++k) {
    const vcFlexAlignDeformation::Piece& src = d.pieces()[k];
    if (src.blank || !src.found) continue;
    Piece p;
    p.position = static_cast<long>(k);
    p.map = src.map;
    p.solid = std::fabs(src.footprint.signedArea()) > 1e-9;
    // Outward normals of the footprint's sides (a repeated corner adds no side).
    const std::vector<vcVector<2>>& v = src.footprint.vertices();
    vcVector<2> centroid;
    for (const vcVector<2>& c : v) centroid += c / static_cast<double>(v.size());
    std::vector<vcVector<2>> corners, normals;
    for (std::size_t i = 0; i < v.size(); ++i) {
      const vcVector<2> e = v[(i + 1) % v.size()] - v[i];
      if (!(e.len() > 1e-12)) continue;
      vcVector<2> n = vcVector<2>(e.y(), -e.x()).unit();
      if (n.dot(centroid - v[i]) > 0) n = -n;
      corners.push_back(v[i]);
      normals.push_back(n);
    }
    // Grown by the margin with mitred corners: each corner moves to where its two sides, each
    // pushed out by m, meet: c + m (n1 + n2) / (1 + n1 . n2).
    std::vector<vcVector<2>> grown(corners.size());
    for (std::size_t i = 0; i < corners.size(); ++i) {
      const vcVector<2>& n1 = normals[(i + corners.size() - 1) % corners.size()];
      const vcVector<2>& n2 = normals[i];
      const double c = 1.0 + n1.dot(n2);
      grown[i] = corners[i] + (c > 1e-6 ? (n1 + n2) * (m / c) : n2 * m);
    }
    p.x0 = p.y0 = std::numeric_limits<double>::infinity();
    p.x1 = p.y1 = -std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < grown.size(); ++i) {
      const vcVector<2>& a = grown[i];
      const vcVector<2>& b = grown[(i + 1) % grown.size()];
      p.x0 = std::min(p.x0, a.x()), p.x1 = std::max(p.x1, a.x());
      p.y0 = std::min(p.y0, a.y()), p.y1 = std::max(p.y1, a.y());
      Edge e;
      e.a = a;
      e.normal = normals[i];
      e.length = a.distance(b);
      e.dir = e.length > 0 ? (b - a) / e.length : vcVector<2>(-normals[i].y(), normals[i].x());
      p.edges.push_back(e);
    }
    p.solid = p.solid && p.edges.size() >= 3;
    pieces_.push_back(p);
  }
}

double DeformBlend::depth(std::size_t k, const vcVector<2>& q) const {
  const Piece& p = pieces_[k];
  if (!p.solid) return -1.0;
  double depth = std::numeric_limits<double>::infinity();
  for (const Edge& e : p.edges) depth = std::min(depth, -e.normal.dot(q - e.a));
  return depth;
}

bool DeformBlend::inside(std::size_t k, const vcVector<2>& q) const {
  const Piece& p = pieces_[k];
  if (!p.solid) return false;
  for (const Edge& e : p.edges)
    if (e.normal.dot(q - e.a) > 0) return false;
  return true;
}

vcVector<2> DeformBlend::map(const vcVector<2>& q) const { return blend_(q, nullptr); }

vcVector<2> DeformBlend::map(const vcVector<2>& q, const vcVector<2>& pose) const {
  return blend_(q, &pose);
}

// Inside footprints a point follows the pieces holding it, each by its depth there: one piece
// alone maps it exactly. Outside, piece k at distance d weighs 1/d^2 - 1/R^2 (none beyond the
// reach R) and the pose 1/R^2: as d falls to 0 the piece's share tends to 1, with its
// complement shrinking like d^2, so the map joins the footprint's own smoothly.
vcVector<2> DeformBlend::blend_(const vcVector<2>& q, const vcVector<2>* pose) const {
  int holders = 0;
  std::size_t only = 0;
  double wIn = 0;
  vcVector<2> in;
  // A piece whose box lies beyond the reach weighs nothing and holds nothing.
  auto near = [&](const Piece& p) {
    const double bx = std::max({p.x0 - q.x(), 0.0, q.x() - p.x1});
    const double by = std::max({p.y0 - q.y(), 0.0, q.y() - p.y1});
    return (bx * bx + by * by) * invReach2_ < 1.0;
  };
  for (std::size_t k = 0; k < pieces_.size(); ++k) {
    if (!near(pieces_[k])) continue;
    const double dk = depth(k, q);
    if (dk < 0) continue;
    ++holders;
    only = k;
    const double w = dk + kBoundaryShare;
    in += pieces_[k].map.mapPoint(q) * w;
    wIn += w;
  }
  if (holders == 1) return pieces_[only].map.mapPoint(q);
  if (holders > 1) return in / wIn;
  double wOut = invReach2_;
  vcVector<2> out = (pose ? *pose : d_.poseMapPoint(q)) * invReach2_;
  for (const Piece& p : pieces_) {
    if (!near(p)) continue;
    double d2 = std::numeric_limits<double>::infinity();
    for (const Edge& e : p.edges) {
      const double t = std::clamp(e.dir.dot(q - e.a), 0.0, e.length);
      const vcVector<2> r = q - (e.a + e.dir * t);
      d2 = std::min(d2, r.dot(r));
    }
    if (!(d2 * invReach2_ < 1.0)) continue;
    // On a degenerate footprint's line the piece alone holds the point.
    if (d2 <= 0) return p.map.mapPoint(q);
    const double w = 1.0 / d2 - invReach2_;
    out += p.map.mapPoint(q) * w;
    wOut += w;
  }
  return out / wOut;
}

}  // namespace vc_flxalign

namespace {

using vc_flxalign::DeformBlend;
using FD = vcFlexAlignDefs;

vcXform<2> linearAt(const vc2XformBase& x, const vcVector<2>& p) {
  return x.linearXform(p).xform();
}

// Corners of the part of an image sub-model that carries pattern, in its image (root pixel)
// coordinates: the window, narrowed to the mask's set pixels (>= 128) when there is a mask.
std::vector<vcVector<2>> imageCorners(const vcFlexSubModel& s) {
  const vcPelRect w = s.image().window();
  double x0 = static_cast<double>(w.x()), y0 = static_cast<double>(w.y());
  double x1 = static_cast<double>(w.x() + w.width()), y1 = static_cast<double>(w.y() + w.height());
  const vcPelBuffer_const<unsigned char>& m = s.mask();
  if (m.isBound()) {
    long mx0 = m.width(), my0 = m.height(), mx1 = -1, my1 = -1;
    for (long y = 0; y < m.height(); ++y) {
      const unsigned char* row = m.row(y);
      for (long x = 0; x < m.width(); ++x)
        if (row[x] >= 128) {
          mx0 = std::min(mx0, x), mx1 = std::max(mx1, x);
          my0 = std::min(my0, y), my1 = std::max(my1, y);
        }
    }
    if (mx1 >= 0) {
      const double ox = static_cast<double>(m.offset().x()),
                   oy = static_cast<double>(m.offset().y());
      x0 = ox + static_cast<double>(mx0), x1 = ox + static_cast<double>(mx1 + 1);
      y0 = oy + static_cast<double>(my0), y1 = oy + static_cast<double>(my1 + 1);
    }
  }
  const vcXform<2>& toClient = s.image().clientFromImageXform();
  return {toClient.mapPoint({x0, y0}), toClient.mapPoint({x1, y0}), toClient.mapPoint({x1, y1}),
          toClient.mapPoint({x0, y1})};
}

// The sub-model's extent in its client coordinates, as four corners.
std::vector<vcVector<2>> clientCorners(const vcFlexSubModel& s) {
  if (s.modelType() == vcFlexModelDefs::eImage) return imageCorners(s);
  const vcRect& r = s.encloseRect();
  return {r.ul(), r.ur(), r.lr(), r.ll()};
}

// The pixel rectangle of whole units that covers `r`, or a null one when it lies beyond any
// image the rectifier could make.
vcPelRect wholeUnits(const vcRect& r) {
  const double x0 = std::floor(r.x()), y0 = std::floor(r.y());
  const double x1 = std::ceil(r.x() + r.width()), y1 = std::ceil(r.y() + r.height());
  constexpr double kFar = 1e9;
  if (!(std::fabs(x0) < kFar && std::fabs(y0) < kFar && std::fabs(x1) < kFar &&
        std::fabs(y1) < kFar))
    return vcPelRect();
  return vcPelRect(static_cast<long>(x0), static_cast<long>(y0), static_cast<long>(x1 - x0),
                   static_cast<long>(y1 - y0));
}

void checkPosition(long position, std::size_t n) {
  if (position < 0 || static_cast<std::size_t>(position) >= n)
    throw FD::BadIndex("Instance position " + std::to_string(position) +
                       " is not in the arrangement, which has " + std::to_string(n) + " instances");
}

// Points over a footprint: a 9 x 9 lattice of its quadrilateral, corners included.
std::vector<vcVector<2>> lattice(const std::vector<vcVector<2>>& c) {
  std::vector<vcVector<2>> out;
  if (c.size() != 4) return out;
  for (int j = 0; j <= 8; ++j)
    for (int i = 0; i <= 8; ++i) {
      const double u = i / 8.0, v = j / 8.0;
      const vcVector<2> top = c[0] + (c[1] - c[0]) * u, bottom = c[3] + (c[2] - c[3]) * u;
      out.push_back(top + (bottom - top) * v);
    }
  return out;
}

}  // namespace

vcFlexAlignDeformation::vcFlexAlignDeformation() : partMap_(new vc2XformLinear) {}

vcFlexAlignDeformation::vcFlexAlignDeformation(const vcFlexAlignResult& result,
                                               const vcFlexArrangement& arrangement) {
  const vcPtrHandle<vc2XformBase> originInverse = arrangement.origin()->inverseBase();
  partMap_ = result.pose().composeBase(*originInverse);
  const std::size_t n = arrangement.subModelIndices().size();
  auto subModel = [&](std::size_t k) -> const vcFlexSubModel& {
    return arrangement.subModels()[static_cast<std::size_t>(arrangement.subModelIndices()[k])];
  };
  pieces_.assign(n, Piece());
  double halfDiagonals = 0;
  int solid = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const vcFlexSubModel& s = subModel(k);
    if (s.modelType() == vcFlexModelDefs::eBlank) continue;
    const vcXform<2> clientToArrangement =
        linearAt(*arrangement.positions()[k]->composeBase(*s.originInverse()), {0, 0});
    Piece& p = pieces_[k];
    p.blank = false;
    for (const vcVector<2>& c : clientCorners(s)) p.footprint.addVertex(clientToArrangement * c);
    const vcRect box = p.footprint.boundingBox();
    halfDiagonals += 0.5 * std::hypot(box.width(), box.height());
    ++solid;
  }
  if (solid > 0 && halfDiagonals > 0) defaultReach_ = halfDiagonals / solid;
  nominalRegion_ = wholeUnits(arrangement.encloseRect());

  for (std::size_t i = 0; i < result.positionIndices().size(); ++i) {
    const long position = result.positionIndices()[i];
    checkPosition(position, n);
    Piece& p = pieces_[static_cast<std::size_t>(position)];
    if (p.blank || p.found) continue;
    const vcFlexSubModelResult& found = *result.subModelResults()[i];
    const vcFlexSubModel& s = subModel(static_cast<std::size_t>(position));
    const vc2XformBase& placement = *arrangement.positions()[static_cast<std::size_t>(position)];
    const vcVector<2> centre = placement.mapPoint(vcFlexSubModelHelper::centerPt(s));
    // A symmetric piece's found turn is arbitrary in the components its symmetry hides; the
    // placement the fit implies takes those from the layout, so its map does not spin the piece.
    vcPtrHandle<vc2XformBase> subModelToClient =
        (s.symmetry() & (1ul | 2ul | 8ul)) && !found.arrangementFromSubModelHandle().isNull()
            ? partMap_->composeBase(found.arrangementFromSubModel())
            : found.pose().clone();
    p.map = linearAt(*subModelToClient->composeBase(*placement.inverseBase()), centre);
    p.found = true;
  }
}

vcVector<2> vcFlexAlignDeformation::mapPoint(const vcVector<2>& p,
                                             const vcFlexRectifyParams& params) const {
  return DeformBlend(*this, params).map(p);
}

vcPolygon vcFlexAlignDeformation::outline(long position, const vcFlexRectifyParams& params) const {
  checkPosition(position, pieces_.size());
  const Piece& p = pieces_[static_cast<std::size_t>(position)];
  if (p.blank) return vcPolygon();
  if (p.found) return p.footprint.map(p.map);
  // A missing piece goes where the deformation takes its place: its sides, a few units a step.
  const DeformBlend blend(*this, params);
  const std::vector<vcVector<2>>& v = p.footprint.vertices();
  vcPolygon out;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const vcVector<2>& a = v[i];
    const vcVector<2>& b = v[(i + 1) % v.size()];
    const int steps = static_cast<int>(std::clamp(std::ceil(a.distance(b) / 4.0), 1.0, 256.0));
    for (int s = 0; s < steps; ++s) out.addVertex(blend.map(a + (b - a) * (s / double(steps))));
  }
  return out;
}

double vcFlexAlignDeformation::largestDisplacement(long position,
                                                   const vcFlexRectifyParams& params) const {
  checkPosition(position, pieces_.size());
  const Piece& p = pieces_[static_cast<std::size_t>(position)];
  const DeformBlend blend(*this, params);
  double largest = 0;
  for (const vcVector<2>& q : lattice(p.footprint.vertices())) {
    const vcVector<2> pose = poseMapPoint(q);
    largest = std::max(largest, blend.map(q, pose).distance(pose));
  }
  return largest;
}

namespace {

bool finite(const vcVector<2>& v) { return std::isfinite(v.x()) && std::isfinite(v.y()); }

bool finite(const vcXform<2>& x) {
  const vcMatrix<2>& m = x.matrix();
  return finite(x.trans()) && finite(vcVector<2>(m(0, 0), m(0, 1))) &&
         finite(vcVector<2>(m(1, 0), m(1, 1)));
}

}  // namespace

vcArchive& operator||(vcArchive& ar, vcFlexAlignDeformation& d) {
  using namespace vc_flxalign;
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw vcArchive::UnknownVersion(kSource, __LINE__);
  // Loads into a fresh value, so a damaged archive leaves `d` as it was.
  vcFlexAlignDeformation t;
  vcFlexAlignDeformation& x = ar.isStoring() ? d : t;
  vc2XformBase* map = const_cast<vc2XformBase*>(x.partMap_.ptr());
  serializePointer(ar, nullptr, map);
  if (ar.isLoading()) {
    if (!map) throw vcArchive::BadData("flxalign deformation: empty part map");
    x.partMap_ = vcPtrHandle_const<vc2XformBase>(map);
  }
  ar || x.nominalRegion_ || x.defaultReach_;
  exchangeListVersion(ar, __LINE__);
  // Each piece takes at least its two flags, an empty polygon's count and a transform.
  const std::size_t n = exchangeCount32(ar, x.pieces_.size(), 2 + 8 + 48);
  if (ar.isLoading()) x.pieces_.assign(n, vcFlexAlignDeformation::Piece());
  for (vcFlexAlignDeformation::Piece& p : x.pieces_) {
    ar || p.blank || p.found || p.footprint || p.map;
    if (ar.isStoring()) continue;
    const std::size_t corners = p.footprint.vertices().size();
    bool good = corners == (p.blank ? 0u : 4u) && !(p.blank && p.found) && finite(p.map);
    for (const vcVector<2>& c : p.footprint.vertices())
      good = good && finite(c) && std::fabs(c.x()) < 1e9 && std::fabs(c.y()) < 1e9;
    if (!good) throw vcArchive::BadData("flxalign deformation: damaged piece");
  }
  if (ar.isLoading()) {
    const vcPelRect& r = x.nominalRegion_;
    if (!(std::isfinite(x.defaultReach_) && x.defaultReach_ > 0) || r.width() < 0 ||
        r.height() < 0 || std::labs(r.x()) > 1000000000L || std::labs(r.y()) > 1000000000L ||
        r.width() > 2000000000L || r.height() > 2000000000L)
      throw vcArchive::BadData("flxalign deformation: damaged region or reach");
    d = std::move(t);
  }
  return ar;
}
