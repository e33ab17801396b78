// Rendered test scenes for the sub-model tool: a bright asymmetric pattern on a dark ground,
// anti-aliased by supersampling so that sub-pixel poses show in the pixels.
#pragma once

#include <cmath>
#include <vector>

#include "platform/core/vcAngle.h"
#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcShapes.h"
#include "platform/core/vcXform.h"

namespace tool_scenes {

// Pattern parts in training client coordinates, inside a 100 x 80 training image: an L with a
// separate square, so that no turn or mirror maps it onto itself.
inline std::vector<vcPolygon> patternParts() {
  return {vcPolygon({{22, 18}, {62, 18}, {62, 30}, {34, 30}, {34, 62}, {22, 62}}),
          vcPolygon({{56, 44}, {76, 44}, {76, 62}, {56, 62}})};
}

inline bool insideConvexOrL(const vcPolygon& poly, const vcVector<2>& p) {
  // Even-odd rule: works for any simple polygon.
  bool in = false;
  const auto& v = poly.vertices();
  for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i++) {
    if ((v[i].y() > p.y()) != (v[j].y() > p.y()) &&
        p.x() < (v[j].x() - v[i].x()) * (p.y() - v[i].y()) / (v[j].y() - v[i].y()) + v[i].x())
      in = !in;
  }
  return in;
}

// An image of the given size whose pixel (x, y) is centred on the client point (x, y) and covers
// the unit square around it, showing the pattern under `clientFromModel` (grey 40 ground, 200
// pattern).
inline vcPelBuffer<unsigned char> render(long w, long h, const vcXform<2>& clientFromModel) {
  const std::vector<vcPolygon> parts = patternParts();
  const vcXform<2> modelFromClient = clientFromModel.inverse();
  vcPelBuffer<unsigned char> img(w, h);
  constexpr int kSub = 6;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      int hits = 0;
      for (int sy = 0; sy < kSub; ++sy)
        for (int sx = 0; sx < kSub; ++sx) {
          const vcVector<2> p =
              modelFromClient.mapPoint({x - 0.5 + (sx + 0.5) / kSub, y - 0.5 + (sy + 0.5) / kSub});
          for (const vcPolygon& part : parts)
            if (insideConvexOrL(part, p)) {
              ++hits;
              break;
            }
        }
      img.set(x, y,
              static_cast<unsigned char>(40 + (160 * hits + kSub * kSub / 2) / (kSub * kSub)));
    }
  return img;
}

inline vcXform<2> rigid(double deg, double tx, double ty) {
  const double a = deg * vcPi / 180.0;
  return vcXform<2>(vcMatrix<2>(std::cos(a), -std::sin(a), std::sin(a), std::cos(a)), {tx, ty});
}

// Largest distance between the images of the training image's corners under two poses.
inline double cornerError(const vcXform<2>& a, const vcXform<2>& b) {
  double e = 0;
  for (const vcVector<2>& c :
       {vcVector<2>(0, 0), vcVector<2>(100, 0), vcVector<2>(100, 80), vcVector<2>(0, 80)})
    e = std::max(e, a.mapPoint(c).distance(b.mapPoint(c)));
  return e;
}

}  // namespace tool_scenes
