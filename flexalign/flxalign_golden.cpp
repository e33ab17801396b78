// The golden model: per pixel of the part's rectified frame, the mean and spread of good parts
// and the tolerance an inspection allows there.
//
// Over n good images rectified into the same frame, with v_i the grey level of one pixel in
// image i:  mean = sum v_i / n,  var = (sum v_i^2 - n mean^2) / (n - 1).  Ten images estimate a
// standard deviation to about a quarter of itself, so the variance is averaged over the 3 x 3
// neighbourhood before its root is taken (nine times the samples; the spread of neighbours is
// alike except across edges, which the gradient term covers anyway).
//
// tolerance = max(floor, a spread, b |grad mean|max3x3), the gradient by central differences.
// Near an edge, a residual misregistration of d pixels changes a pixel by about d |grad|; the
// 3 x 3 maximum widens the tolerance to the edge's skirt, where a shifted edge lands too.

#include <algorithm>
#include <cmath>
#include <string>

#include "flexalign/flxalign_archive.h"
#include "flexalign/flxalign_footprint.h"
#include "platform/core/vcText.h"
#include "vcFlexInspect.h"
#include "vcFlexLimits.h"

namespace {

using FD = vcFlexAlignDefs;

std::string num(double v) { return vfFormat("%g", v); }

void checkParams(const vcFlexGoldenParams& p) {
  auto within = [](double v, double lo, double hi) {
    return std::isfinite(v) && v >= lo && v <= hi;
  };
  if (!within(p.floor, 0, 255))
    throw FD::BadParams("The tolerance floor must be 0 to 255 grey levels; it is " + num(p.floor));
  const double most = vcFlexLimits::kMaxToleranceFactor;
  if (!within(p.spreadFactor, 0, most))
    throw FD::BadParams("The spread factor must be 0 to " + num(most) + "; it is " +
                        num(p.spreadFactor));
  if (!within(p.gradientFactor, 0, most))
    throw FD::BadParams("The gradient factor must be 0 to " + num(most) + "; it is " +
                        num(p.gradientFactor));
  if (!within(p.slack, 0, 64))
    throw FD::BadParams("The slack must be 0 to 64 units; it is " + num(p.slack));
  if (p.minArea < 1 || p.minArea > vcFlexLimits::kMaxDefectArea)
    throw FD::BadParams("The smallest defect area must be 1 to " +
                        vfBoundStr(double(vcFlexLimits::kMaxDefectArea)) + " pixels; it is " +
                        std::to_string(p.minArea));
}

// FNV-1a over the words given.
struct Hash {
  std::uint64_t h = 1469598103934665603ull;
  void add(std::uint64_t v) {
    for (int i = 0; i < 8; ++i, v >>= 8) h = (h ^ (v & 0xff)) * 1099511628211ull;
  }
  void add(double v) { add(static_cast<std::uint64_t>(std::llround(v * 1024.0))); }
};

// Running extreme of `v` (rows of width W) over +-r along x (step 1) or y (step W).
void runningExtreme(std::vector<float>& v, long W, long H, long r, bool alongX, bool takeMax) {
  const std::vector<float> in = v;
  const long n = alongX ? W : H, lines = alongX ? H : W;
  const long step = alongX ? 1 : W;
  for (long l = 0; l < lines; ++l) {
    const long base = alongX ? l * W : l;
    for (long i = 0; i < n; ++i) {
      float e = in[std::size_t(base + i * step)];
      for (long j = std::max(0L, i - r); j <= std::min(n - 1, i + r); ++j) {
        const float x = in[std::size_t(base + j * step)];
        e = takeMax ? std::max(e, x) : std::min(e, x);
      }
      v[std::size_t(base + i * step)] = e;
    }
  }
}

// Where two pieces meet (a pixel within margin + slack of both footprints), either may have
// moved its content over by up to the slack: the mean's largest departure from itself over a
// square of that half-size. 0 elsewhere.
vcFlexFieldImage envelope(const vcFlexFieldImage& mean, const std::vector<vcPolygon>& footprints,
                          double margin, double slack) {
  const vcPelRect& rc = mean.rect;
  const long W = rc.width(), H = rc.height();
  vcFlexFieldImage out{rc, std::vector<float>(mean.values.size(), 0.0f)};
  const long r = static_cast<long>(std::ceil(slack));
  if (r < 1 || footprints.size() < 2) return out;
  std::vector<float> hi = mean.values, lo = mean.values;
  runningExtreme(hi, W, H, r, true, true), runningExtreme(hi, W, H, r, false, true);
  runningExtreme(lo, W, H, r, true, false), runningExtreme(lo, W, H, r, false, false);
  for (long y = 0; y < H; ++y)
    for (long x = 0; x < W; ++x) {
      const vcVector<2> p(double(rc.x() + x), double(rc.y() + y));
      int near = 0;
      for (const vcPolygon& f : footprints)
        near += vc_flxalign::footprintDistance(f, p) <= margin + slack;
      if (near < 2) continue;
      const std::size_t i = std::size_t(y * W + x);
      out.values[i] = std::max(hi[i] - mean.values[i], mean.values[i] - lo[i]);
    }
  return out;
}

}  // namespace

std::uint64_t vfFlexArrangementKey(const vcFlexAlignDeformation& d) {
  Hash h;
  const vcPelRect& r = d.nominalRegion();
  for (long v : {r.x(), r.y(), r.width(), r.height()}) h.add(static_cast<std::uint64_t>(v));
  h.add(static_cast<std::uint64_t>(d.pieces().size()));
  for (const vcFlexAlignDeformation::Piece& p : d.pieces()) {
    h.add(static_cast<std::uint64_t>(p.blank));
    for (const vcVector<2>& v : p.footprint.vertices()) h.add(v.x()), h.add(v.y());
  }
  return h.h;
}

void vcFlexGoldenModel::params(const vcFlexGoldenParams& p) {
  checkParams(p);
  params_ = p;
  if (isTrained()) computeTolerance_();
}

double vcFlexGoldenModel::coverage() const {
  if (inspected_.empty()) return 0.0;
  const auto n = std::count_if(inspected_.begin(), inspected_.end(), [](auto v) { return v; });
  return static_cast<double>(n) / static_cast<double>(inspected_.size());
}

void vcFlexGoldenModel::computeTolerance_() {
  const long W = region_.width(), H = region_.height();
  const std::vector<float>& m = mean_.values;
  auto at = [&](long x, long y) {
    return m[static_cast<std::size_t>(std::clamp(y, 0L, H - 1) * W + std::clamp(x, 0L, W - 1))];
  };
  std::vector<float> grad(m.size());
  for (long y = 0; y < H; ++y)
    for (long x = 0; x < W; ++x)
      grad[static_cast<std::size_t>(y * W + x)] =
          0.5f * std::hypot(at(x + 1, y) - at(x - 1, y), at(x, y + 1) - at(x, y - 1));
  tolerance_.rect = region_;
  tolerance_.values.assign(m.size(), 0.0f);
  const auto floor = static_cast<float>(params_.floor);
  const auto a = static_cast<float>(params_.spreadFactor);
  const auto b = static_cast<float>(params_.gradientFactor);
  for (long y = 0; y < H; ++y)
    for (long x = 0; x < W; ++x) {
      float g = 0;
      for (long v = std::max(y - 1, 0L); v <= std::min(y + 1, H - 1); ++v)
        for (long u = std::max(x - 1, 0L); u <= std::min(x + 1, W - 1); ++u)
          g = std::max(g, grad[static_cast<std::size_t>(v * W + u)]);
      const std::size_t i = static_cast<std::size_t>(y * W + x);
      const float s = a * spread_.values[i], e = envelope_.values[i];
      tolerance_.values[i] = std::max({floor, s, b * g, e > 0 ? e + s : 0.0f});
    }
}

vcFlexGoldenModel vcFlexGoldenModel::train(
    const vcFlexArrangement& arrangement, const std::vector<vcFlexAlignResult>& results,
    const std::vector<vcPelBuffer_const<unsigned char>>& images, const vcFlexGoldenParams& params,
    const vcPelBuffer_const<unsigned char>& ignore) {
  checkParams(params);
  if (results.size() != images.size())
    throw FD::BadParams("A golden model takes one result per image; " +
                        std::to_string(results.size()) + " results for " +
                        std::to_string(images.size()) + " images");
  if (static_cast<long>(images.size()) < kMinImages)
    throw FD::BadParams("A golden model needs at least " + std::to_string(kMinImages) +
                        " good images with the part found; " + std::to_string(images.size()) +
                        (images.size() == 1 ? " was" : " were") + " given");
  for (std::size_t i = 0; i < images.size(); ++i) {
    if (!images[i].isBound()) throw FD::BadImage("Good image " + std::to_string(i) + " is unbound");
    if (images[i].width() != images[0].width() || images[i].height() != images[0].height())
      throw FD::BadImage(
          "Good image " + std::to_string(i) + " is " + std::to_string(images[i].width()) + " x " +
          std::to_string(images[i].height()) + ", the first " + std::to_string(images[0].width()) +
          " x " + std::to_string(images[0].height()) + "; all must be one size");
    if (!results[i].found())
      throw FD::BadParams("The part is not found in good image " + std::to_string(i));
  }

  vcFlexGoldenModel m;
  m.params_ = params;
  std::vector<double> sum, sum2;
  std::vector<unsigned char> seen;
  double largest = 0;
  std::vector<vcPolygon> footprints;
  for (std::size_t i = 0; i < images.size(); ++i) {
    const vcFlexAlignDeformation d(results[i], arrangement);
    vcFlexRectifyParams rp = params.rectify;
    if (i == 0) {
      m.key_ = vfFlexArrangementKey(d);
      if (rp.region.isNull()) rp.region = d.nominalRegion();
      m.region_ = rp.region;
    }
    rp.region = m.region_;
    const vcFlexRectified r = d.rectify(images[i], rp);
    for (double v : r.largestDisplacement) largest = std::max(largest, v);
    if (i == 0)
      for (const vcFlexAlignDeformation::Piece& p : d.pieces())
        if (!p.blank) footprints.push_back(p.footprint);
    const long W = m.region_.width(), H = m.region_.height();
    if (i == 0) sum.assign(std::size_t(W * H), 0.0), sum2 = sum, seen.assign(sum.size(), 255);
    for (long y = 0; y < H; ++y) {
      const unsigned char* v = r.image.row(y);
      const unsigned char* ok = r.mask.row(y);
      for (long x = 0; x < W; ++x) {
        const std::size_t k = static_cast<std::size_t>(y * W + x);
        sum[k] += v[x];
        sum2[k] += double(v[x]) * v[x];
        seen[k] &= ok[x];
      }
    }
  }

  const long W = m.region_.width(), H = m.region_.height();
  const double n = static_cast<double>(images.size());
  m.mean_.rect = m.spread_.rect = m.region_;
  m.mean_.values.resize(sum.size());
  std::vector<double> var(sum.size());
  for (std::size_t k = 0; k < sum.size(); ++k) {
    const double mu = sum[k] / n;
    m.mean_.values[k] = static_cast<float>(mu);
    var[k] = std::max(0.0, (sum2[k] - n * mu * mu) / (n - 1.0));
  }
  m.spread_.values.resize(sum.size());
  for (long y = 0; y < H; ++y)
    for (long x = 0; x < W; ++x) {
      double s = 0;
      int c = 0;
      for (long v = std::max(y - 1, 0L); v <= std::min(y + 1, H - 1); ++v)
        for (long u = std::max(x - 1, 0L); u <= std::min(x + 1, W - 1); ++u)
          if (seen[std::size_t(v * W + u)]) s += var[std::size_t(v * W + u)], ++c;
      m.spread_.values[std::size_t(y * W + x)] = static_cast<float>(c ? std::sqrt(s / c) : 0.0);
    }
  m.inspected_ = std::move(seen);
  const double slack = params.slack > 0 ? params.slack : std::min(64.0, 1.5 * largest);
  m.envelope_ = envelope(m.mean_, footprints, params.rectify.margin, slack);
  if (ignore.isBound()) {
    // The mask's pixel (x, y) is arrangement point (x, y): its window offset says where.
    const vcPelRect mr(ignore.offset().x(), ignore.offset().y(), ignore.width(), ignore.height());
    for (long y = 0; y < H; ++y)
      for (long x = 0; x < W; ++x) {
        const long ax = m.region_.x() + x, ay = m.region_.y() + y;
        if (mr.contains(ax, ay) && ignore.get(ax - mr.x(), ay - mr.y()))
          m.inspected_[std::size_t(y * W + x)] = 0;
      }
  }
  m.imageCount_ = static_cast<long>(images.size());
  m.imageWidth_ = images[0].width();
  m.imageHeight_ = images[0].height();
  m.computeTolerance_();
  return m;
}

vcFlexGoldenModel vcFlexGoldenModel::train(
    const vcFlexAlignPattern& pattern, const vcFlexAlignRunParams& runParams,
    const vc2XformBase& startPose, const std::vector<vcPelBuffer_const<unsigned char>>& images,
    const vcFlexGoldenParams& params, const vcPelBuffer_const<unsigned char>& ignore,
    std::vector<bool>* used) {
  checkParams(params);
  std::vector<vcFlexAlignResult> results;
  std::vector<vcPelBuffer_const<unsigned char>> good;
  std::vector<bool> taken(images.size(), false);
  for (std::size_t i = 0; i < images.size(); ++i) {
    if (!images[i].isBound()) throw FD::BadImage("Good image " + std::to_string(i) + " is unbound");
    vcFlexAlignResultSet set;
    pattern.run(images[i], startPose, {}, runParams, set);
    if (set.results().empty() || !set.results()[0].found()) continue;
    results.push_back(set.results()[0]);
    good.push_back(images[i]);
    taken[i] = true;
  }
  if (static_cast<long>(good.size()) < kMinImages)
    throw FD::BadParams("A golden model needs at least " + std::to_string(kMinImages) +
                        " good images with the part found; it was found in " +
                        std::to_string(good.size()) + " of " + std::to_string(images.size()));
  vcFlexGoldenModel m = train(pattern.arrangement(), results, good, params, ignore);
  if (used) *used = std::move(taken);
  return m;
}

vcArchive& operator||(vcArchive& ar, vcFlexGoldenModel& m) {
  using namespace vc_flxalign;
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw vcArchive::UnknownVersion(kSource, __LINE__);
  // Loads into a fresh model, so a damaged archive leaves `m` as it was.
  vcFlexGoldenModel t;
  vcFlexGoldenModel& x = ar.isStoring() ? m : t;
  vcFlexGoldenParams& p = x.params_;
  ar || p.floor || p.spreadFactor || p.gradientFactor || p.slack || p.minArea;
  ar || p.rectify.fill || p.rectify.poseOnly || p.rectify.margin || p.rectify.reach ||
      p.rectify.gridStep;
  unsigned long key = x.key_;
  ar || x.imageCount_ || x.imageWidth_ || x.imageHeight_ || key || x.region_;
  x.key_ = key;
  p.rectify.region = x.region_;
  const std::size_t pixels = static_cast<std::size_t>(std::max(0L, x.region_.width())) *
                             static_cast<std::size_t>(std::max(0L, x.region_.height()));
  const std::size_t n = exchangeCount32(ar, x.mean_.values.size(), 13);
  if (ar.isLoading()) {
    if (n != pixels || n == 0 || x.region_.width() > 100000 || x.region_.height() > 100000)
      throw vcArchive::BadData("flxalign golden model: the pixels do not match the region");
    x.mean_.values.assign(n, 0.0f);
    x.spread_.values.assign(n, 0.0f);
    x.inspected_.assign(n, 0);
  }
  if (ar.isLoading()) x.envelope_.values.assign(n, 0.0f);
  for (std::size_t i = 0; i < n; ++i)
    ar || x.mean_.values[i] || x.spread_.values[i] || x.envelope_.values[i] || x.inspected_[i];
  if (ar.isStoring()) return ar;
  bool good = x.imageCount_ >= vcFlexGoldenModel::kMinImages && x.imageWidth_ > 0 &&
              x.imageHeight_ > 0 && x.imageWidth_ <= 1000000 && x.imageHeight_ <= 1000000;
  for (std::size_t i = 0; i < n && good; ++i)
    good = std::isfinite(x.mean_.values[i]) && std::isfinite(x.spread_.values[i]) &&
           x.spread_.values[i] >= 0 && std::isfinite(x.envelope_.values[i]) &&
           x.envelope_.values[i] >= 0 && (x.inspected_[i] == 0 || x.inspected_[i] == 255);
  if (!good) throw vcArchive::BadData("flxalign golden model: damaged counts or pixels");
  try {
    checkParams(p);
  } catch (const FD::Errors& e) {
    throw vcArchive::BadData(std::string("flxalign golden model: ") + e.what());
  }
  const vcFlexRectifyParams& r = p.rectify;
  using L = vcFlexLimits;
  if (r.gridStep < 1 || r.gridStep > L::kMaxRectifyGridStep ||
      !(r.margin >= 0 && r.margin <= L::kMaxRectifyDistance) ||
      !(r.reach >= 0 && r.reach <= L::kMaxRectifyDistance))
    throw vcArchive::BadData("flxalign golden model: damaged rectify settings");
  x.mean_.rect = x.spread_.rect = x.envelope_.rect = x.region_;
  x.computeTolerance_();
  m = std::move(t);
  return ar;
}
