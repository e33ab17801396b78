#include "tools/cli/vcCliResults.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "platform/display/vc2Wireframe.h"
#include "tools/common/vcImageFile.h"

namespace {

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
  vcFlexAlignResultSet results;
  p.pattern.run(image, vc2XformLinear(startPose), {}, params, results, diag, flags);
  out.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  out.parts = vfResultView(results, p.pattern.arrangement(), p.instanceNames);
  return out;
}

bool vfCliPartFound(const vcCliImageRun& r) {
  return std::any_of(r.parts.begin(), r.parts.end(), [](const vcPartView& p) { return p.found; });
}

std::string vfCliTable(const vcCliImageRun& r) {
  std::string t = format("%s (%ld x %ld): %zu result(s), %.2f ms\n", r.image.c_str(), r.width,
                         r.height, r.parts.size(), r.ms);
  if (r.parts.empty()) t += "  no part found\n";
  for (std::size_t i = 0; i < r.parts.size(); ++i) {
    const vcPartView& p = r.parts[i];
    t += format(
        "  result %zu: score %.3f, %s; part at (%.2f, %.2f), angle %.3f deg, scales %.4f %.4f\n",
        i + 1, p.score, p.found ? "found" : "NOT FOUND", p.x, p.y, p.angle, p.xScale, p.yScale);
    for (const std::string& s : p.info) t += "    " + s + "\n";
    t += format("    %-12s %9s %9s %8s %6s %6s %11s %9s\n", "piece", "x", "y", "angle", "scale",
                "score", "off layout", "turned");
    for (const vcInstanceView& in : p.instances) {
      if (!in.found) {
        t += format("    %-12s %9.2f %9.2f %8.3f %6.4f  not found (placed by the part pose)\n",
                    in.name.c_str(), in.x, in.y, in.angle, in.scale);
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
  for (const vcPartView& p : r.parts) {
    nlohmann::json pj = {{"found", p.found},
                         {"score", p.score},
                         {"x", p.x},
                         {"y", p.y},
                         {"angle", p.angle},
                         {"x_scale", p.xScale},
                         {"y_scale", p.yScale},
                         {"info", p.info},
                         {"instances", nlohmann::json::array()}};
    for (const vcInstanceView& in : p.instances) {
      nlohmann::json ij = {{"name", in.name},  {"found", in.found}, {"x", in.x},
                           {"y", in.y},        {"angle", in.angle}, {"scale", in.scale},
                           {"score", in.score}};
      if (in.found) ij.update({{"offset", in.offset}, {"turn", in.turn}});
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
  for (const vcPartView& part : r.parts) {
    c.box(a.encloseRect(), part.pose * originInverse, kYellow);
    for (const vcInstanceView& in : part.instances) {
      const vcFlexSubModel& m =
          a.subModels()[std::size_t(a.subModelIndices()[std::size_t(in.index)])];
      if (m.modelType() == vcFlexModelDefs::eBlank) continue;
      const unsigned char* colour = in.found ? kGreen : kRed;
      if (m.modelType() == vcFlexModelDefs::eSynthetic) {
        for (const vc2Wireframe& w : m.shapes()) {
          const long n = w.numVertices();
          for (long i = 0; i + 1 < n + (w.closed() ? 1 : 0); ++i)
            c.line(in.pose.mapPoint(w.vertex(i)), in.pose.mapPoint(w.vertex((i + 1) % n)), colour);
        }
      } else {
        c.box(m.encloseRect(), in.pose, colour);
      }
    }
  }
  vfWritePngRgb(path, c.rgb, c.w, c.h);
}
