#include "tools/cli/vcCliResults.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "platform/core/vcAngle.h"
#include "platform/core/vcText.h"
#include "platform/display/vc2Wireframe.h"
#include "tools/cli/vcCliCanvas.h"
#include "tools/cli/vcCliText.h"
#include "tools/io/vcImageFile.h"

namespace {

vcXform<2> plain(const vc2XformBase& x) { return x.linearXform({0, 0}).xform(); }

}  // namespace

bool vfIsOwnOutput(const std::string& name) {
  for (const std::string suffix : {"-overlay.png", "-rectified.png"})
    if (name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      return true;
  return false;
}

vcCliImageRun vfRunCliImage(const vcPatternFile& p, const std::string& name,
                            const vcPelBuffer_const<unsigned char>& image,
                            const vcPelBuffer_const<unsigned char>& mask,
                            const vcXform<2>& startPose, const vcFlexAlignRunParams& params,
                            vcDiagObject* diag, unsigned long flags) {
  vcCliImageRun out;
  out.image = name;
  out.width = image.width();
  out.height = image.height();
  const auto t0 = std::chrono::steady_clock::now();
  vcFlexAlignResultSet results;
  if (mask.isBound())
    p.pattern.run(image, mask, vc2XformLinear(startPose), {}, params, results, diag, flags);
  else
    p.pattern.run(image, vc2XformLinear(startPose), {}, params, results, diag, flags);
  out.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  out.parts = vfResultView(results, p.pattern.arrangement(), p.instanceNames);
  out.rejected = vfRejectedView(results, p.pattern.arrangement(), p.instanceNames);
  for (const vcFlexAlignResult& res : results.results())
    out.deformations.emplace_back(res, p.pattern.arrangement());
  return out;
}

void vfWriteCliRectified(const std::string& path, const vcPelBuffer_const<unsigned char>& image,
                         vcCliImageRun& r) {
  r.displacements.clear();
  for (const vcFlexAlignDeformation& d : r.deformations) {
    std::vector<double> pieces;
    for (std::size_t k = 0; k < d.pieces().size(); ++k)
      pieces.push_back(d.largestDisplacement(long(k)));
    r.displacements.push_back(pieces);
  }
  if (r.deformations.empty()) return;
  const vcFlexRectified rect = r.deformations.front().rectify(image);
  vfWritePng(path, rect.image);
  r.rectified = path;
  r.rectifiedRegion = rect.region;
}

namespace {

// The ellipses are drawn this many image pixels long at most (their longest semi-axis), and
// enlarged by at most kMostEnlarged: a piece fixed to a hundredth of a pixel still shows a
// few pixels wide, and one that can slide does not cover the image.
constexpr double kLongestDrawn = 30.0;
constexpr double kMostEnlarged = 1000.0;

// The power of ten by which the found pieces' ellipses are drawn: the largest that keeps the
// longest under kLongestDrawn pixels (1 when none has a size).
double ellipseEnlargement(const vcPartView& p) {
  double longest = 0.0;
  for (const vcInstanceView& in : p.instances)
    if (in.found) longest = std::max(longest, in.sigmaMajor);
  if (!(longest > 0.0)) return 1.0;
  const double e = std::pow(10.0, std::floor(std::log10(kLongestDrawn / longest)));
  return std::clamp(e, 1.0, kMostEnlarged);
}

// The image with each found piece's 1-sigma position ellipse, enlarged, about where it was
// found, and the legend saying by how much.
void recordEllipses(vcDiagRecord& rec, const vcPartView& p,
                    const vcPelBuffer_const<unsigned char>& image) {
  const double enlarged = ellipseEnlargement(p);
  vcGraphicList list;
  bool any = false;
  for (const vcInstanceView& in : p.instances) {
    if (!in.found || !(in.sigmaMajor > 0.0)) continue;
    const vcEllipse e({in.x, in.y}, in.sigmaMajor * enlarged, in.sigmaMinor * enlarged,
                      vcRadian(in.sigmaDirection * vcRadPerDeg));
    list.append(new vcGraphicSimple<vcEllipse>(e, vcColor::yellow));
    list.append(new vcGraphicCross({in.x, in.y}, 6.0, vcRadian(0.0), vcColor::green));
    any = true;
  }
  if (!any) return;
  rec.image(image, false);
  rec.graphics(list, vcDisplay::eImageCoords, "position ellipses");
  rec.text("Position ellipses",
           vfFormat("each found piece's 1-sigma position ellipse (yellow) about where it was found "
                    "(green cross), drawn %g times its size",
                    enlarged));
}

}  // namespace

void vfRecordCliReasons(vcDiagObject& diag, const vcCliImageRun& r,
                        const vcPelBuffer_const<unsigned char>& image) {
  auto record = [&](const vcPartView& p, const std::string& label) {
    std::string missed;
    for (const vcInstanceView& in : p.instances)
      if (!in.found) missed += (missed.empty() ? "" : ", ") + in.name;
    vcDiagRecord& rec = diag.newDiagRecord();
    rec.recordAnnotation(label + (p.found ? " found" : " NOT FOUND") +
                         (p.found || p.status.text.empty() ? "" : ": " + p.status.text) +
                         (missed.empty() ? "" : "; missed " + missed));
    for (const vcInstanceView& in : p.instances)
      rec.text(in.name, in.found
                            ? vfFormat("found at (%.2f, %.2f), score %.3f", in.x, in.y, in.score)
                            : vfFormat("not found (the part places it at (%.2f, %.2f)): %s", in.x,
                                       in.y, in.status.text.c_str()));
    if (image.isBound()) recordEllipses(rec, p, image);
  };
  for (std::size_t i = 0; i < r.parts.size(); ++i)
    record(r.parts[i], "Result " + std::to_string(i + 1));
  if (r.parts.empty())
    for (std::size_t i = 0; i < r.rejected.size(); ++i)
      record(r.rejected[i], "Dropped combination " + std::to_string(i + 1));
}

namespace {

// One result (or dropped combination) and its pieces; a missing piece is listed where the
// part pose places it, with why it was missed.
std::string partTable(const vcPartView& p, const std::string& label) {
  std::string t =
      vfFormat("  %s: score %.3f, %s; part at (%.2f, %.2f), angle %.3f deg, scales %.4f %.4f\n",
               label.c_str(), p.score, p.found ? "found" : "NOT FOUND", p.x, p.y, p.angle, p.xScale,
               p.yScale);
  if (!p.found && !p.status.text.empty()) t += "    why: " + vfPrintable(p.status.text) + "\n";
  for (const std::string& s : p.info) t += "    " + vfPrintable(s) + "\n";
  t += vfFormat("    %-12s %9s %9s %8s %6s %6s %11s %9s  %s\n", "piece", "x", "y", "angle", "scale",
                "score", "off layout", "turned", "1-sigma: ellipse px @ deg, angle deg");
  for (const vcInstanceView& in : p.instances) {
    if (!in.found) {
      t += vfFormat(
          "    %-12s %9.2f %9.2f %8.3f %6.4f  not found: %s\n", vfPrintable(in.name).c_str(), in.x,
          in.y, in.angle, in.scale,
          vfPrintable(in.status.text.empty() ? "(no reason recorded)" : in.status.text).c_str());
      continue;
    }
    // A symmetric piece's angle is not its own: say whose it is.
    const std::string whose = in.angleSymmetry == 0 ? " (round: the part's angle)"
                              : in.angleSymmetry > 1
                                  ? vfFormat(" (modulo %g)", 360.0 / double(in.angleSymmetry))
                                  : std::string();
    t += vfFormat(
        "    %-12s %9.2f %9.2f %8.3f %6.4f %6.3f %8.2f px %5.2f deg  %.3f x %.3f @ %.0f, %.3f%s\n",
        vfPrintable(in.name).c_str(), in.x, in.y, in.angle, in.scale, in.score, in.offset, in.turn,
        in.sigmaMajor, in.sigmaMinor, in.sigmaDirection, in.angleSigma, whose.c_str());
  }
  return t;
}

}  // namespace

std::string vfCliTable(const vcRunView& r) {
  std::string t = vfFormat("%s (%ld x %ld): %zu result(s), %.2f ms\n", vfPrintable(r.image).c_str(),
                           r.width, r.height, r.parts.size(), r.ms);
  if (r.parts.empty())
    t += r.rejected.empty() ? "  no part found\n"
                            : "  no part found; the closest the run dropped:\n";
  for (std::size_t i = 0; i < r.parts.size(); ++i)
    t += partTable(r.parts[i], "result " + std::to_string(i + 1));
  if (r.parts.empty())
    for (std::size_t i = 0; i < r.rejected.size(); ++i)
      t += partTable(r.rejected[i], "dropped " + std::to_string(i + 1));
  return t;
}

void vfWriteCliOverlay(const std::string& path, const vcPatternFile& p,
                       const vcPelBuffer_const<unsigned char>& image, const vcCliImageRun& r) {
  static const vcCliColour kYellow{255, 210, 0}, kGreen{0, 235, 60}, kRed{255, 40, 40};
  const vcFlexArrangement& a = p.pattern.arrangement();
  const vcXform<2> originInverse = plain(*a.origin()).inverse();
  // With nothing found, the closest combination the run dropped, dashed: where it looked and
  // what came closest.
  const bool dropped = r.parts.empty() && !r.rejected.empty();
  const std::vector<vcPartView> shown =
      dropped ? std::vector<vcPartView>{r.rejected.front()} : r.parts;
  // A large image is shown around the parts: the boxes, a margin, and no more.
  vcPelRect view(0, 0, image.width(), image.height());
  if (std::max(image.width(), image.height()) > kVcOverlayMaxSide && !shown.empty()) {
    vcRect around;
    for (std::size_t i = 0; i < shown.size(); ++i) {
      const vcRect b = a.encloseRect().map(shown[i].pose * originInverse).encloseRect();
      around = i ? around.enclose(b) : b;
    }
    const double m = 32 + 0.2 * std::max(around.width(), around.height());
    if (std::isfinite(around.width() + around.height() + around.x() + around.y()) &&
        std::max(around.width(), around.height()) < 1e6)
      view = vcPelRect(long(std::floor(around.x() - m)), long(std::floor(around.y() - m)),
                       long(std::ceil(around.width() + 2 * m)),
                       long(std::ceil(around.height() + 2 * m)));
  }
  vcCliCanvas c(image, view, kVcOverlayMaxSide);
  for (const vcPartView& part : shown) {
    c.box(a.encloseRect(), part.pose * originInverse, kYellow, dropped);
    for (const vcInstanceView& in : part.instances) {
      const vcFlexSubModel& m =
          a.subModels()[std::size_t(a.subModelIndices()[std::size_t(in.index)])];
      if (m.modelType() == vcFlexModelDefs::eBlank) continue;
      const vcCliColour colour = in.found ? kGreen : kRed;
      if (m.modelType() == vcFlexModelDefs::eSynthetic) {
        for (const vc2Wireframe& w : m.shapes()) {
          const long n = w.numVertices();
          for (long i = 0; i + 1 < n + (w.closed() ? 1 : 0); ++i)
            c.line(in.pose.mapPoint(w.vertex(i)), in.pose.mapPoint(w.vertex((i + 1) % n)), colour,
                   dropped);
        }
      } else {
        c.box(m.encloseRect(), in.pose, colour, dropped);
      }
    }
    // Names last, so no outline crosses them.
    for (const vcInstanceView& in : part.instances) {
      const vcFlexSubModel& m =
          a.subModels()[std::size_t(a.subModelIndices()[std::size_t(in.index)])];
      if (m.modelType() == vcFlexModelDefs::eBlank) continue;
      const vcRect& e = m.encloseRect();
      c.label(in.pose.mapPoint(e.ul() + 0.5 * e.size()),
              vfPrintable(in.name) + (in.found ? vfFormat(" %.2f", in.score) : " missing"),
              in.found ? kGreen : kRed);
    }
  }
  if (r.parts.empty())
    c.caption(dropped ? vfFormat("no part found; dashed: the closest dropped, score %.3f",
                                 shown.front().score)
                      : std::string("no part found, and no combination came close"));
  if (c.reduced())
    c.caption(std::to_string(image.width()) + " x " + std::to_string(image.height()) +
              " image, shown " +
              (c.view().width() < image.width() || c.view().height() < image.height()
                   ? "from (" + std::to_string(c.view().x()) + ", " + std::to_string(c.view().y()) +
                         ") " + std::to_string(c.view().width()) + " x " +
                         std::to_string(c.view().height())
                   : std::string("whole")) +
              (c.shrink() > 1 ? " at 1/" + std::to_string(c.shrink()) : std::string()));
  c.writePng(path);
}
