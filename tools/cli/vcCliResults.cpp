#include "tools/cli/vcCliResults.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "platform/display/vc2Wireframe.h"
#include "tools/common/vcImageFile.h"

namespace {

constexpr double kDeg = 180.0 / 3.14159265358979323846;

vcXform<2> plain(const vc2XformBase& x) { return x.linearXform({0, 0}).xform(); }

std::string format(const char* fmt, auto... args) {
  char buf[256];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

struct Canvas {
  long w, h;
  std::vector<unsigned char> rgb;

  void dot(long x, long y, const unsigned char c[3]) {
    if (x < 0 || y < 0 || x >= w || y >= h) return;
    unsigned char* p = &rgb[(std::size_t(y) * w + x) * 3];
    p[0] = c[0], p[1] = c[1], p[2] = c[2];
  }
  // Two pixels wide, so an outline stays visible over a busy image.
  void line(vcVector<2> a, vcVector<2> b, const unsigned char c[3]) {
    if (!std::isfinite(a.x() + a.y() + b.x() + b.y())) return;
    const double n = std::ceil(std::max(std::fabs(b.x() - a.x()), std::fabs(b.y() - a.y())));
    if (n > 4 * (w + h)) return;  // a degenerate pose; nothing sensible to draw
    for (double i = 0; i <= n; ++i) {
      const double t = n > 0 ? i / n : 0;
      const long x = std::lround(a.x() + t * (b.x() - a.x()));
      const long y = std::lround(a.y() + t * (b.y() - a.y()));
      dot(x, y, c), dot(x + 1, y, c), dot(x, y + 1, c);
    }
  }
  void box(const vcRect& r, const vcXform<2>& x, const unsigned char c[3]) {
    const vcVector<2> p[4] = {r.ul(), r.ul() + vcVector<2>(r.width(), 0), r.ul() + r.size(),
                              r.ul() + vcVector<2>(0, r.height())};
    for (int i = 0; i < 4; ++i) line(x.mapPoint(p[i]), x.mapPoint(p[(i + 1) % 4]), c);
  }
};

}  // namespace

vcCliImageRun vfRunCliImage(const vcPatternFile& p, const std::string& name,
                            const vcPelBuffer_const<unsigned char>& image,
                            const vcXform<2>& startPose, const vcFlexAlignRunParams& params,
                            vcDiagObject* diag, unsigned long flags) {
  vcCliImageRun out;
  out.image = name;
  out.width = image.width();
  out.height = image.height();
  const auto t0 = std::chrono::steady_clock::now();
  p.pattern.run(image, vc2XformLinear(startPose), {}, params, out.results, diag, flags);
  out.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  const vcFlexArrangement& a = p.pattern.arrangement();
  for (const vcFlexAlignResult& r : out.results.results()) {
    vcCliPart part;
    part.found = r.found();
    part.score = r.score();
    part.x = r.location().x();
    part.y = r.location().y();
    const vcMatrix<2> m = plain(r.pose()).matrix();
    part.angle = m.rotation().toDouble() * kDeg;
    part.xScale = m.xScale();
    part.yScale = m.yScale();
    part.info = r.infoStrings();
    for (std::size_t k = 0; k < a.positions().size(); ++k) {
      vcCliInstance in;
      in.name = k < p.instanceNames.size() ? p.instanceNames[k] : "instance " + std::to_string(k);
      vcPtrHandle<vcFlexSubModelResult> sub;
      r.getSubModelResult(long(k), sub);
      if (sub) {
        in.found = true;
        const vcXform<2> pose = plain(sub->pose());
        in.x = pose.trans().x();
        in.y = pose.trans().y();
        in.angle = pose.matrix().rotation().toDouble() * kDeg;
        in.scale = pose.matrix().scale();
        in.score = sub->score();
        const vcXform<2> nominal = plain(*a.positions()[k]);
        const vcXform<2> placed = plain(sub->arrangementFromSubModel());
        in.offset = placed.trans().distance(nominal.trans());
        in.turn = (placed.matrix().rotation() - nominal.matrix().rotation()).toDouble() * kDeg;
        in.turn = std::remainder(in.turn, 360.0);
      }
      part.instances.push_back(in);
    }
    out.parts.push_back(part);
  }
  return out;
}

bool vfCliPartFound(const vcCliImageRun& r) {
  return std::any_of(r.parts.begin(), r.parts.end(), [](const vcCliPart& p) { return p.found; });
}

std::string vfCliTable(const vcCliImageRun& r) {
  std::string t = format("%s (%ld x %ld): %zu result(s), %.2f ms\n", r.image.c_str(), r.width,
                         r.height, r.parts.size(), r.ms);
  if (r.parts.empty()) t += "  no part found\n";
  for (std::size_t i = 0; i < r.parts.size(); ++i) {
    const vcCliPart& p = r.parts[i];
    t += format(
        "  result %zu: score %.3f, %s; part at (%.2f, %.2f), angle %.3f deg, scales %.4f %.4f\n",
        i + 1, p.score, p.found ? "found" : "NOT FOUND", p.x, p.y, p.angle, p.xScale, p.yScale);
    for (const std::string& s : p.info) t += "    " + s + "\n";
    t += format("    %-12s %9s %9s %8s %6s %6s %11s %9s\n", "piece", "x", "y", "angle", "scale",
                "score", "off layout", "turned");
    for (const vcCliInstance& in : p.instances) {
      if (!in.found) {
        t += format("    %-12s not found\n", in.name.c_str());
        continue;
      }
      t += format("    %-12s %9.2f %9.2f %8.3f %6.4f %6.3f %8.2f px %5.2f deg\n", in.name.c_str(),
                  in.x, in.y, in.angle, in.scale, in.score, in.offset, in.turn);
    }
  }
  return t;
}

nlohmann::json vfCliJson(const vcCliImageRun& r) {
  nlohmann::json j = {{"image", r.image},           {"width", r.width},
                      {"height", r.height},         {"time_ms", r.ms},
                      {"found", vfCliPartFound(r)}, {"results", nlohmann::json::array()}};
  for (const vcCliPart& p : r.parts) {
    nlohmann::json pj = {{"found", p.found},
                         {"score", p.score},
                         {"x", p.x},
                         {"y", p.y},
                         {"angle", p.angle},
                         {"x_scale", p.xScale},
                         {"y_scale", p.yScale},
                         {"info", p.info},
                         {"instances", nlohmann::json::array()}};
    for (const vcCliInstance& in : p.instances) {
      nlohmann::json ij = {{"name", in.name}, {"found", in.found}};
      if (in.found) {
        ij.update({{"x", in.x},
                   {"y", in.y},
                   {"angle", in.angle},
                   {"scale", in.scale},
                   {"score", in.score},
                   {"offset", in.offset},
                   {"turn", in.turn}});
      }
      pj["instances"].push_back(ij);
    }
    j["results"].push_back(pj);
  }
  return j;
}

void vfWriteCliOverlay(const std::string& path, const vcPatternFile& p,
                       const vcPelBuffer_const<unsigned char>& image, const vcCliImageRun& r) {
  Canvas c{image.width(), image.height(), {}};
  c.rgb.resize(std::size_t(c.w) * c.h * 3);
  for (long y = 0; y < c.h; ++y)
    for (long x = 0; x < c.w; ++x) {
      unsigned char* q = &c.rgb[(std::size_t(y) * c.w + x) * 3];
      q[0] = q[1] = q[2] = image.get(x, y);
    }
  static const unsigned char kYellow[3] = {255, 210, 0}, kGreen[3] = {0, 235, 60},
                             kRed[3] = {255, 40, 40};
  const vcFlexArrangement& a = p.pattern.arrangement();
  const vcXform<2> originInverse = plain(*a.origin()).inverse();
  for (const vcFlexAlignResult& res : r.results.results()) {
    const vcXform<2> imageFromArrangement = plain(res.pose()) * originInverse;
    c.box(a.encloseRect(), imageFromArrangement, kYellow);
    for (std::size_t k = 0; k < a.positions().size(); ++k) {
      const vcFlexSubModel& m = a.subModels()[std::size_t(a.subModelIndices()[k])];
      if (m.modelType() == vcFlexModelDefs::eBlank) continue;
      vcPtrHandle<vcFlexSubModelResult> sub;
      res.getSubModelResult(long(k), sub);
      const vcXform<2> pose =
          sub ? plain(sub->pose()) : imageFromArrangement * plain(*a.positions()[k]);
      const unsigned char* colour = sub ? kGreen : kRed;
      if (m.modelType() == vcFlexModelDefs::eSynthetic) {
        for (const vc2Wireframe& w : m.shapes()) {
          const long n = w.numVertices();
          for (long i = 0; i + 1 < n + (w.closed() ? 1 : 0); ++i)
            c.line(pose.mapPoint(w.vertex(i)), pose.mapPoint(w.vertex((i + 1) % n)), colour);
        }
      } else {
        c.box(m.encloseRect(), pose, colour);
      }
    }
  }
  vfWritePngRgb(path, c.rgb, c.w, c.h);
}
