// Trains a two-piece part from a drawn image, finds it moved in a second image, and finds it
// again with a copy of the pattern that went through an archive. Exits non-zero on any miss.
#include <vcFlexAlign.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/core/vcArchive.h"

namespace {

using Poly = std::vector<vcVector<2>>;

bool inside(const Poly& p, double x, double y) {
  bool in = false;
  for (std::size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
    const vcVector<2>&a = p[i], &b = p[j];
    if ((a.y() > y) != (b.y() > y) && x < (b.x() - a.x()) * (y - a.y()) / (b.y() - a.y()) + a.x())
      in = !in;
  }
  return in;
}

// Two asymmetric pieces on a dark ground, moved by (dx, dy); 8 x 8 samples per pixel give
// edges with sub-pixel positions.
vcPelBuffer<unsigned char> draw(double dx, double dy) {
  const std::vector<Poly> shapes = {
      {{40, 60}, {140, 60}, {140, 90}, {75, 90}, {75, 170}, {40, 170}},
      {{190, 50}, {280, 70}, {260, 160}, {215, 120}, {185, 140}}};
  vcPelBuffer<unsigned char> img(320, 220);
  for (long y = 0; y < img.height(); ++y)
    for (long x = 0; x < img.width(); ++x) {
      int hits = 0;
      for (int sy = 0; sy < 8; ++sy)
        for (int sx = 0; sx < 8; ++sx)
          for (const Poly& p : shapes)
            hits += inside(p, x + (sx + 0.5) / 8 - dx, y + (sy + 0.5) / 8 - dy) ? 1 : 0;
      img.set(x, y, static_cast<unsigned char>(40 + 160 * hits / 64));
    }
  return img;
}

vcPelBuffer_const<unsigned char> cut(const vcPelBuffer<unsigned char>& img, const vcPelRect& r) {
  vcPelBuffer_const<unsigned char> v = img;
  v.window(r);
  return v;
}

bool findsMove(const vcFlexAlignPattern& pattern, double dx, double dy) {
  vcFlexAlignRunParams run(vcFlexSubModelGfndRunParams{});
  run.xyUncertainty(30, 30);
  vcFlexAlignResultSet results;
  pattern.run(draw(dx, dy), vc2XformLinear(), {}, run, results);
  if (results.results().empty() || !results.results()[0].found()) {
    std::printf("the part was not found\n");
    return false;
  }
  const vcFlexAlignResult& r = results.results()[0];
  const vcVector<2> c(160, 110), at = r.pose().mapPoint(c);
  const double err = std::hypot(at.x() - c.x() - dx, at.y() - c.y() - dy);
  std::printf("found: score %.3f, %zu pieces, position error %.4f px\n", r.score(),
              r.positionIndices().size(), err);
  return r.positionIndices().size() == 2 && err < 0.1;
}

}  // namespace

int main() {
  const vcPelBuffer<unsigned char> train = draw(0, 0);
  const std::vector<vcFlexSubModel> pieces = {
      vcFlexSubModel(cut(train, vcPelRect(30, 50, 120, 130)), "corner"),
      vcFlexSubModel(cut(train, vcPelRect(175, 40, 115, 130)), "wedge")};
  using H = vcPtrHandle_const<vc2XformBase>;
  const vcFlexArrangement part(pieces, {0, 1}, {H(new vc2XformLinear()), H(new vc2XformLinear())});
  vcFlexAlignPattern pattern;
  pattern.train(part, vcFlexAlignTrainParams(vcFlexSubModelGfndTrainParams()));

  vcArchive out;
  out || pattern;
  vcArchive in(out.bytes());
  vcFlexAlignPattern loaded;
  in || loaded;

  std::printf("vcflexalign %s\n", vfFlexAlignVersion());
  return findsMove(pattern, 13.25, -7.5) && findsMove(loaded, -6.75, 9.5) ? 0 : 1;
}
