// Rectification: every output pixel (an arrangement point) sampled in the run image where the
// deformation puts it. Each output row is cut where it enters and leaves each found piece's
// footprint: a stretch inside one footprint follows that piece's own affine map exactly, so a
// piece's edges stay exact however close they run to its footprint's border; a stretch outside
// every footprint takes the map evaluated exactly on a coarse grid and interpolated between the
// nodes (the blend joins each footprint's own map smoothly at its edge); a stretch inside
// several takes the blend pixel by pixel.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "flexalign/flxalign_deform.h"
#include "vcFlexAlignTool.h"
#include "vcFlexLimits.h"

namespace {

using vc_flxalign::DeformBlend;
using FD = vcFlexAlignDefs;

// The mask and the field take 10 bytes a pixel; the grid holds two rows of nodes only.
constexpr long kMaxPixels = vcFlexLimits::kMaxRectifyPixels;
constexpr long kMaxCoordinate = vcFlexLimits::kMaxRectifyStart;

// One grid node: where the deformation puts it in the run image's window (pixels), the field
// there, and where the fitted pose puts it (client coordinates).
struct Node {
  vcVector<2> q, f, p;
};

// Output pixels lo..hi (inclusive) of one row lie inside the footprint of piece `piece`.
struct Stretch {
  long lo, hi;
  std::size_t piece;
};

// The pixels of the row at arrangement height `y` inside a (convex) footprint: the row's line
// cut by the half-planes n . (p - a) <= 0 of its edges, as output pixels 0 .. width - 1 whose
// arrangement x is x0 + pixel. False when none.
bool rowStretch(const DeformBlend::Piece& p, double y, double x0, long width, Stretch& out) {
  if (!p.solid) return false;
  double lo = -1e300, hi = 1e300;
  for (const DeformBlend::Edge& e : p.edges) {
    // n.x x <= c with c = n.x a.x + n.y (a.y - y)
    const double nx = e.normal.x();
    const double c = nx * e.a.x() + e.normal.y() * (e.a.y() - y);
    if (nx > 1e-12)
      hi = std::min(hi, c / nx);
    else if (nx < -1e-12)
      lo = std::max(lo, c / nx);
    else if (c < 0)
      return false;
  }
  const double a = std::max(std::ceil(lo - x0), 0.0);
  const double b = std::min(std::floor(hi - x0), static_cast<double>(width - 1));
  if (!(a <= b)) return false;
  out.lo = static_cast<long>(a);
  out.hi = static_cast<long>(b);
  return true;
}

// The run image's pixels as the sampler reads them: window coordinates with pixel centres at
// whole coordinates; an outside point takes `fill` and mask 0.
struct Sampler {
  const unsigned char* base;
  long stride, w, h;
  unsigned char fill;
  vcXform<2> fromClient;

  void one(double qx, double qy, unsigned char& value, unsigned char& valid) const {
    if (!(qx >= -0.5 && qx < w - 0.5 && qy >= -0.5 && qy < h - 0.5)) {  // also refuses NaN
      value = fill;
      valid = 0;
      return;
    }
    // floor by truncation: qx + 1 is positive here. The outer half-pixel repeats the edge.
    long x0 = static_cast<long>(qx + 1.0) - 1, y0 = static_cast<long>(qy + 1.0) - 1;
    const double ax = qx - static_cast<double>(x0), ay = qy - static_cast<double>(y0);
    long x1 = x0 + 1, y1 = y0 + 1;
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (x1 >= w) x1 = w - 1;
    if (y1 >= h) y1 = h - 1;
    const unsigned char* r0 = base + y0 * stride;
    const unsigned char* r1 = base + y1 * stride;
    const double top = r0[x0] + ax * (r0[x1] - r0[x0]);
    const double bottom = r1[x0] + ax * (r1[x1] - r1[x0]);
    value = static_cast<unsigned char>(top + ay * (bottom - top) + 0.5);
    valid = 255;
  }

  // n (at most 64) samples along q + i dq. When both ends (hence every sample between) have
  // all four neighbours inside the image, the loop needs neither the outside test nor the
  // clamping; the ends keep a hundredth of a pixel clear of the border, more than the fixed
  // point below drifts in 64 steps.
  void span(vcVector<2> q, vcVector<2> dq, long n, unsigned char* value,
            unsigned char* valid) const {
    if (n == 1) dq = vcVector<2>();
    const vcVector<2> e = q + dq * static_cast<double>(n - 1);
    const double right = static_cast<double>(w - 1) - 0.01;
    const double bottom = static_cast<double>(h - 1) - 0.01;
    auto interior = [&](const vcVector<2>& p) {
      return p.x() >= 0.01 && p.x() < right && p.y() >= 0.01 && p.y() < bottom;
    };
    if (n > 64 || !interior(q) || !interior(e)) {
      for (long i = 0; i < n; ++i) {
        const double t = static_cast<double>(i);
        one(q.x() + dq.x() * t, q.y() + dq.y() * t, value[i], valid[i]);
      }
      return;
    }
    // Fixed point: positions in 1/65536 px (a step truncated to that is off by less than a
    // thousandth of a pixel after 64 steps); the blend weights keep 10 bits.
    constexpr double kOne = 65536.0;
    std::int64_t x = static_cast<std::int64_t>(q.x() * kOne + 0.5);
    std::int64_t y = static_cast<std::int64_t>(q.y() * kOne + 0.5);
    const auto sx = static_cast<std::int64_t>(dq.x() * kOne);
    const auto sy = static_cast<std::int64_t>(dq.y() * kOne);
    for (long i = 0; i < n; ++i, x += sx, y += sy) {
      const unsigned char* r0 = base + (y >> 16) * stride + (x >> 16);
      const unsigned char* r1 = r0 + stride;
      const int ax = static_cast<int>((x >> 6) & 1023), ay = static_cast<int>((y >> 6) & 1023);
      const int top = (r0[0] << 10) + ax * (r0[1] - r0[0]);
      const int low = (r1[0] << 10) + ax * (r1[1] - r1[0]);
      value[i] = static_cast<unsigned char>(((top << 10) + ay * (low - top) + (1 << 19)) >> 20);
      valid[i] = 255;
    }
  }
};

vcPelRect checkedRegion(const vcPelRect& given, const vcPelRect& nominal) {
  const vcPelRect r = given.isNull() ? nominal : given;
  if (r.isNull())
    throw FD::BadParams(
        "The arrangement has no extent to rectify into; give the rectify region instead");
  if (r.width() > kMaxPixels || r.height() > kMaxPixels || r.width() * r.height() > kMaxPixels)
    throw FD::BadParams("The rectify region may hold at most " + std::to_string(kMaxPixels) +
                        " pixels; it is " + std::to_string(r.width()) + " x " +
                        std::to_string(r.height()));
  // Not std::labs: the smallest long has no positive counterpart.
  if (r.x() < -kMaxCoordinate || r.x() > kMaxCoordinate || r.y() < -kMaxCoordinate ||
      r.y() > kMaxCoordinate)
    throw FD::BadParams("The rectify region must start within " + std::to_string(kMaxCoordinate) +
                        " units of the arrangement's origin");
  return r;
}

}  // namespace

vcFlexRectified vcFlexAlignDeformation::rectify(const vcPelBuffer_const<unsigned char>& image,
                                                const vcFlexRectifyParams& params) const {
  if (!image.isBound()) throw FD::BadImage("The runtime image is unbound");
  if (params.gridStep < 1 || params.gridStep > vcFlexLimits::kMaxRectifyGridStep)
    throw FD::BadParams("The rectify grid step must be 1 to " +
                        std::to_string(vcFlexLimits::kMaxRectifyGridStep) + " pixels; it is " +
                        std::to_string(params.gridStep));
  const vcPelRect region = checkedRegion(params.region, nominalRegion_);
  const vcXform<2> winFromRoot(vcMatrix<2>(),
                               vcVector<2>(-static_cast<double>(image.offset().x()),
                                           -static_cast<double>(image.offset().y())));
  const Sampler sample{image.row(0),  image.rowStride(),
                       image.width(), image.height(),
                       params.fill,   winFromRoot * image.imageFromClientXform()};
  const DeformBlend blend(*this, params);
  const bool poseOnly = params.poseOnly || blend.pieces().empty();

  const long W = region.width(), H = region.height(), s = params.gridStep;
  const long cellsX = (W + s - 1) / s;
  const long nodesX = cellsX + 1;
  auto at = [&](long x, long y) {  // arrangement point of output pixel (x, y)
    return vcVector<2>(static_cast<double>(region.x() + x), static_cast<double>(region.y() + y));
  };
  // Node row j of the grid; a row of output needs the two about it, so only two are held.
  auto nodeRow = [&](long j, std::vector<Node>& nodes) {
    nodes.resize(static_cast<std::size_t>(nodesX));
    for (long i = 0; i < nodesX; ++i) {
      Node& n = nodes[static_cast<std::size_t>(i)];
      const vcVector<2> a = at(i * s, j * s);
      n.p = partMap_->mapPoint(a);
      const vcVector<2> d = poseOnly ? n.p : blend.map(a, n.p);
      n.q = sample.fromClient.mapPoint(d);
      n.f = d - n.p;
    }
  };
  std::vector<Node> aboveRow, belowRow;
  long aboveIndex = -1;

  vcFlexRectified out;
  out.region = region;
  out.image = vcPelBuffer<unsigned char>(region, 1);
  out.mask = vcPelBuffer<unsigned char>(region, 1);
  out.fieldX.rect = out.fieldY.rect = region;
  out.fieldX.values.assign(static_cast<std::size_t>(W * H), 0.0f);
  out.fieldY.values.assign(static_cast<std::size_t>(W * H), 0.0f);

  std::vector<Node> row(static_cast<std::size_t>(nodesX));
  std::vector<Stretch> inside;
  std::vector<long> cuts;
  const double invStep = 1.0 / static_cast<double>(s);
  const std::vector<DeformBlend::Piece>& pieces = blend.pieces();
  for (long y = 0; y < H; ++y) {
    // The nodes above and below blended to this row; each cell's span runs between two.
    const long cy = y / s;
    if (cy != aboveIndex) {
      if (cy == aboveIndex + 1 && aboveIndex >= 0)
        aboveRow.swap(belowRow);
      else
        nodeRow(cy, aboveRow);
      nodeRow(cy + 1, belowRow);
      aboveIndex = cy;
    }
    const Node* above = aboveRow.data();
    const Node* below = belowRow.data();
    const double ty = static_cast<double>(y - cy * s) * invStep;
    for (long i = 0; i < nodesX; ++i) {
      row[i].q = above[i].q + (below[i].q - above[i].q) * ty;
      row[i].f = above[i].f + (below[i].f - above[i].f) * ty;
      row[i].p = above[i].p + (below[i].p - above[i].p) * ty;
    }
    // Where the row enters and leaves the footprints: the cuts between stretches.
    inside.clear();
    cuts.clear();
    const double ay = static_cast<double>(region.y() + y);
    for (std::size_t k = 0; k < pieces.size() && !poseOnly; ++k) {
      Stretch st{0, 0, k};
      if (!rowStretch(pieces[k], ay, static_cast<double>(region.x()), W, st)) continue;
      inside.push_back(st);
      cuts.push_back(st.lo);
      cuts.push_back(st.hi + 1);
    }
    std::sort(cuts.begin(), cuts.end());
    std::size_t nextCut = 0;

    unsigned char* img = out.image.row(y);
    unsigned char* msk = out.mask.row(y);
    float* fx = &out.fieldX.values[static_cast<std::size_t>(y * W)];
    float* fy = &out.fieldY.values[static_cast<std::size_t>(y * W)];
    // Samples pixels a .. b - 1 along q + i dq with the field f + i df.
    auto span = [&](long a, long b, const vcVector<2>& q, const vcVector<2>& dq,
                    const vcVector<2>& f, const vcVector<2>& df) {
      sample.span(q, dq, b - a, img + a, msk + a);
      const float f0x = static_cast<float>(f.x()), f0y = static_cast<float>(f.y());
      const float sx = static_cast<float>(df.x()), sy = static_cast<float>(df.y());
      for (long x = a; x < b; ++x) {
        const float t = static_cast<float>(x - a);
        fx[x] = f0x + sx * t;
        fy[x] = f0y + sy * t;
      }
    };
    for (long cx = 0; cx < cellsX; ++cx) {
      const Node& l = row[cx];
      const Node& r = row[cx + 1];
      const vcVector<2> dq = (r.q - l.q) * invStep, df = (r.f - l.f) * invStep;
      const vcVector<2> dp = (r.p - l.p) * invStep;
      const long x0 = cx * s, x1 = std::min(x0 + s, W);
      for (long a = x0; a < x1;) {
        while (nextCut < cuts.size() && cuts[nextCut] <= a) ++nextCut;
        const long b = nextCut < cuts.size() ? std::min(cuts[nextCut], x1) : x1;
        int holders = 0;
        std::size_t only = 0;
        for (const Stretch& st : inside)
          if (st.lo <= a && a <= st.hi) ++holders, only = st.piece;
        const double t = static_cast<double>(a - x0);
        if (holders == 0) {
          span(a, b, l.q + dq * t, dq, l.f + df * t, df);
        } else if (holders == 1) {
          // The piece's own map is affine: along the row its image and the field are linear.
          const vcXform<2>& m = pieces[only].map;
          const vcVector<2> d = m.mapPoint(at(a, y));
          const vcVector<2> step(m.matrix()(0, 0), m.matrix()(1, 0));
          span(a, b, sample.fromClient.mapPoint(d), sample.fromClient.mapVector(step),
               d - (l.p + dp * t), step - dp);
        } else {
          for (long x = a; x < b; ++x) {
            const vcVector<2> p = l.p + dp * static_cast<double>(x - x0);
            const vcVector<2> d = blend.map(at(x, y), p);
            const vcVector<2> q = sample.fromClient.mapPoint(d);
            fx[x] = static_cast<float>(d.x() - p.x());
            fy[x] = static_cast<float>(d.y() - p.y());
            sample.one(q.x(), q.y(), img[x], msk[x]);
          }
        }
        a = b;
      }
    }
  }

  const std::size_t n = pieces_.size();
  out.outlines.resize(n);
  out.largestDisplacement.assign(n, 0.0);
  for (std::size_t k = 0; k < n; ++k) {
    const long position = static_cast<long>(k);
    if (params.poseOnly) {
      for (const vcVector<2>& c : pieces_[k].footprint.vertices())
        out.outlines[k].addVertex(partMap_->mapPoint(c));
    } else {
      out.outlines[k] = outline(position, params);
      out.largestDisplacement[k] = largestDisplacement(position, params);
    }
  }
  return out;
}

vcFlexRectified vcFlexAlignResult::rectify(const vcFlexArrangement& arrangement,
                                           const vcPelBuffer_const<unsigned char>& image,
                                           const vcFlexRectifyParams& params) const {
  return vcFlexAlignDeformation(*this, arrangement).rectify(image, params);
}
