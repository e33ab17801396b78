// Wireframe training: each wireframe becomes a polyline (arcs flattened into short chords).
#include <cmath>

#include "engines/geofind/vcGFAlign.h"
#include "platform/display/vc2Wireframe.h"

namespace {

// 3 degrees: chords this short keep the sagitta well below a pixel for radii < 1000. The value
// lies about 5e-17 under 3 degrees (it came from pi cut to 15 digits), so an arc of exactly 180
// degrees gets 61 chords, not 60; kept as it is so that trained wireframe models do not move.
constexpr double kChordStep = 0.052359877559829834;

std::vector<vcVector<2>> flatten(const vc2Wireframe& wf) {
  const vcGenPoly& g = wf.poly();
  std::vector<vcVector<2>> out;
  if (wf.numVertices() == 0) return out;
  out.push_back(wf.vertex(0));
  for (long s = 0; s < wf.numSegments(); ++s) {
    const bool closing = wf.closed() && s == wf.numSegments() - 1;
    if (g.isArc(s)) {
      const vcVector<2> c = g.arcCenter(s), a = g.segmentStart(s) - c;
      const double sweep = g.sweep(s).toDouble();
      const int n = std::max(2, int(std::ceil(std::fabs(sweep) / kChordStep)));
      for (int k = 1; k < n; ++k) {
        const double t = sweep * k / n, cs = std::cos(t), sn = std::sin(t);
        out.push_back(c + vcVector<2>(cs * a.x() - sn * a.y(), sn * a.x() + cs * a.y()));
      }
    }
    if (!closing) out.push_back(g.segmentEnd(s));
  }
  return out;
}

}  // namespace

void vcGFAlignPattern::train(const std::vector<vc2Wireframe>& shapes,
                             const std::vector<double>& weights, const vcXform<2>& clientFromImage,
                             long algorithm, vcDiagObject*, unsigned long) {
  std::vector<std::vector<vcVector<2>>> lines;
  std::vector<bool> closed;
  for (const vc2Wireframe& w : shapes) {
    lines.push_back(flatten(w));
    closed.push_back(w.closed());
  }
  trainPolylines(lines, closed, weights, clientFromImage, algorithm);
}

void vcGFAlignPattern::train(const std::vector<vc2Wireframe>& shapes,
                             const vcXform<2>& clientFromImage, long algorithm, vcDiagObject* diag,
                             unsigned long flags) {
  train(shapes, std::vector<double>(shapes.size(), 1.0), clientFromImage, algorithm, diag, flags);
}
