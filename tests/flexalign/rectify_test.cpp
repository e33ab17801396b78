#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <utility>

#include "support/archive_check.h"
#include "support/flex_sample_once.h"
#include "tests/flexalign/flexalign_access.h"
#include "tools/testing/vcFlexSample.h"
#include "vcFlexAlignTool.h"

// Rectification on the flexible sample part, whose arrangement coordinates are its training
// image's pixels: a rectified run image should be the training image again, piece for piece.
namespace {

using A = vcFlexAlignTestAccess;
using D = vcFlexAlignDefs;

using flex_sample_once::pattern;
using flex_sample_once::sample;

// The scratch of the inspection example: a dark line across the body's leg, arrangement units.
const vcVector<2> kScratchA(60, 120), kScratchB(105, 185);

double scratchDistance(const vcVector<2>& p) {
  const vcVector<2> e = kScratchB - kScratchA;
  const double t = std::clamp((p - kScratchA).dot(e) / e.dot(e), 0.0, 1.0);
  return p.distance(kScratchA + e * t);
}

struct Flexed {
  vcFlexSampleImage run;
  vcFlexAlignResult result;
  // Arrangement to image for piece k as drawn.
  vcXform<2> truth(std::size_t k) const {
    return run.truth[k] *
           sample().arrangement.positions()[k]->inverseBase()->linearXform({0, 0}).xform();
  }
};

// The part turned 7 degrees and moved, every piece further moved up to 4 px and turned up to
// 3 degrees; noise sigma 5 and the training image's blur, so that the noise is what differs.
// With `scratch`, a 2 px dark line across the body before the run.
Flexed flexed(std::uint32_t seed, bool scratch = false) {
  vcFlexSampleOptions opt;
  opt.partPose = vfFlexSamplePose(sample(), 7.0, 1.0, 9, -6);
  opt.seed = seed;
  opt.noiseSigma = 5;
  opt.blurSigma = 0.8;
  Flexed f;
  f.run = vfRenderFlexSample(sample(), opt);
  const vcXform<2> toBody = f.truth(0).inverse();
  for (long y = 0; y < f.run.image.height() && scratch; ++y)
    for (long x = 0; x < f.run.image.width(); ++x)
      if (scratchDistance(toBody.mapPoint({double(x), double(y)})) < 1.0) f.run.image.set(x, y, 90);
  const vcFlexAlignRunParams rp = vfFlexSampleRunParams(D::eLocallyFixturedSubModels, 0.5);
  vcFlexAlignResultSet rs;
  pattern().run(f.run.image, vc2XformLinear(vfFlexSamplePose(sample(), 0, 1)), {}, rp, rs);
  EXPECT_EQ(rs.results().size(), 1u);
  if (!rs.results().empty()) f.result = rs.results()[0];
  EXPECT_TRUE(f.result.found());
  return f;
}

// The box of piece k's drawn shapes grown by 3 px, so that it holds the piece's edges.
vcPelRect pieceBox(std::size_t k) {
  vcRect box(sample().instanceShapes[k][0].vertices[0], {0, 0});
  for (const vcSampleShape& s : sample().instanceShapes[k])
    for (const vcVector<2>& v : s.vertices) box = box.enclose(v);
  return vcPelRect(long(box.x()) - 3, long(box.y()) - 3, long(box.width()) + 7,
                   long(box.height()) + 7);
}

// Mean |rectified - trained| over the valid pixels of `box`, and over those of them on the
// training image's edges (central-difference gradient above 60 grey levels per 2 px).
std::pair<double, double> difference(const vcFlexRectified& r, const vcPelRect& box) {
  const vcPelBuffer<unsigned char>& t = sample().trainImage;
  double sum = 0, edges = 0;
  long n = 0, ne = 0;
  for (long y = box.y(); y < box.y() + box.height(); ++y)
    for (long x = box.x(); x < box.x() + box.width(); ++x) {
      const long rx = x - r.region.x(), ry = y - r.region.y();
      if (!r.mask.get(rx, ry)) continue;
      const double d = std::fabs(double(r.image.get(rx, ry)) - t.get(x, y));
      sum += d, ++n;
      if (std::hypot(t.get(x + 1, y) - t.get(x - 1, y), t.get(x, y + 1) - t.get(x, y - 1)) > 60)
        edges += d, ++ne;
    }
  return {sum / std::max(n, 1L), edges / std::max(ne, 1L)};
}

// Against the training image, every piece differs by the noise alone (about 2.8: sigma 5 after
// bilinear sampling against sigma 1): at most 4 grey levels on average, 5 on its edges. The
// part's rigid pose alone leaves every piece moved by more than a pixel over 4, its edges
// differing over three times as much. The field at each piece's centre is where the piece truly
// lies minus where the fitted pose puts it, and each outline lies on its piece.
TEST(Rectify, FlexedPartMatchesItsTrainingImageWhereTheRigidPoseLeavesEdgesApart) {
  for (std::uint32_t seed : {5u, 6u, 7u}) {
    const Flexed f = flexed(seed);
    const vcFlexAlignDeformation deformation(f.result, sample().arrangement);
    const vcFlexRectified flex = deformation.rectify(f.run.image);
    vcFlexRectifyParams rigid;
    rigid.poseOnly = true;
    const vcFlexRectified pose = deformation.rectify(f.run.image, rigid);
    EXPECT_EQ(flex.region, vcPelRect(28, 28, 342, 251));  // the part's box in training pixels
    for (std::size_t k = 0; k < 7; ++k) {
      const auto [mean, edges] = difference(flex, pieceBox(k));
      const auto [rigidMean, rigidEdges] = difference(pose, pieceBox(k));
      const std::string what = sample().instanceNames[k] + " seed " + std::to_string(seed) +
                               ": flex " + std::to_string(mean) + " / " + std::to_string(edges) +
                               ", rigid " + std::to_string(rigidMean) + " / " +
                               std::to_string(rigidEdges);
      EXPECT_LE(mean, 4.0) << what;
      EXPECT_LE(edges, 5.0) << what;
      const vcVector<2> c = sample().instanceCentres[k];
      const vcVector<2> moved = f.truth(k).mapPoint(c) - deformation.poseMapPoint(c);
      if (moved.len() > 1.0) {
        EXPECT_GT(rigidMean, 4.0) << what;
        EXPECT_GT(rigidEdges, 3 * edges) << what;
      }
      const vcVector<2> field(flex.fieldX.at(long(c.x()), long(c.y())),
                              flex.fieldY.at(long(c.x()), long(c.y())));
      EXPECT_LT(field.distance(moved), 0.1) << what;
      EXPECT_GE(flex.largestDisplacement[k], field.len() - 1e-6) << what;
      const vcVector<2> corner = deformation.pieces()[k].footprint.vertex(0);
      EXPECT_LT(flex.outlines[k].vertex(0).distance(f.truth(k).mapPoint(corner)), 0.5) << what;
    }
    EXPECT_EQ(flex.outlines[7].numVertices(), 0);  // the blank label
  }
}

// The inspection example: a scratch on one piece of a flexed part is the only place where the
// rectified image differs from the trained one by over 40 grey levels, along all its length;
// rigidly rectified, the moved pieces' edges differ as much.
TEST(Rectify, ScratchOnOnePieceIsTheOnlyLargeDifference) {
  const Flexed f = flexed(8, true);
  for (bool poseOnly : {false, true}) {
    vcFlexRectifyParams p;
    p.poseOnly = poseOnly;
    const vcFlexRectified r = f.result.rectify(sample().arrangement, f.run.image, p);
    auto large = [&](long x, long y) {  // arrangement coordinates
      const long rx = x - r.region.x(), ry = y - r.region.y();
      return r.mask.get(rx, ry) &&
             std::abs(int(r.image.get(rx, ry)) - int(sample().trainImage.get(x, y))) > 40;
    };
    long away = 0;
    for (long y = r.region.y(); y < r.region.y() + r.region.height(); ++y)
      for (long x = r.region.x(); x < r.region.x() + r.region.width(); ++x)
        away += large(x, y) && scratchDistance(vcVector<2>(double(x), double(y))) > 3.0;
    if (poseOnly) {
      EXPECT_GT(away, 300);
      continue;
    }
    EXPECT_EQ(away, 0);
    int covered = 0;
    for (int t = 0; t <= 40; ++t) {
      const vcVector<2> q = kScratchA + (kScratchB - kScratchA) * (t / 40.0);
      covered += large(std::lround(q.x()), std::lround(q.y()));
    }
    EXPECT_GE(covered, 38);
  }
}

// The coarse grid against the map evaluated at every pixel: the same on the pieces; between
// them within the neighbours' relative move (across gaps of about a grid step the grid cannot
// follow the blend), and no further from the training image.
TEST(Rectify, CoarseGridAgreesWithTheExactMap) {
  const Flexed f = flexed(6);
  vcFlexRectifyParams exact;
  exact.gridStep = 1;
  const vcFlexRectified a = f.result.rectify(sample().arrangement, f.run.image);
  const vcFlexRectified b = f.result.rectify(sample().arrangement, f.run.image, exact);
  double onPieces = 0, between = 0, offA = 0, offB = 0, moves = 0;
  int grey = 0;
  for (double m : a.largestDisplacement) moves = std::max(moves, m);
  for (long y = 0; y < a.region.height(); ++y)
    for (long x = 0; x < a.region.width(); ++x) {
      const std::size_t i = static_cast<std::size_t>(y * a.region.width() + x);
      const double e = std::hypot(double(a.fieldX.values[i]) - b.fieldX.values[i],
                                  double(a.fieldY.values[i]) - b.fieldY.values[i]);
      bool piece = false;
      for (std::size_t k = 0; k < 7; ++k) piece = piece || pieceBox(k).contains(x + 28, y + 28);
      const int ga = a.image.get(x, y), gb = b.image.get(x, y),
                t = sample().trainImage.get(x + 28, y + 28);
      if (piece) {
        onPieces = std::max(onPieces, e), grey = std::max(grey, std::abs(ga - gb));
      } else {
        between = std::max(between, e), offA += std::abs(ga - t), offB += std::abs(gb - t);
      }
    }
  EXPECT_LT(onPieces, 1e-3);
  EXPECT_LE(grey, 1);
  EXPECT_LT(between, 2 * moves);
  EXPECT_LT(offA, offB * 1.02);
}

// A result built by hand: the part at the identity of the training image, every listed piece
// moved by its own translation.
vcFlexAlignResult handmade(const std::vector<long>& found, std::vector<vcVector<2>>& moves) {
  const vcFlexArrangement& a = sample().arrangement;
  vcFlexAlignResult r = A::result(a.origin()->linearXform({0, 0}).xform(), 1.0);
  for (long k : found) {
    moves.emplace_back(0.5 * k - 1.0, 2.0 - 0.3 * k);
    A::add(r, k,
           vcXform<2>(vcMatrix<2>(), moves.back()) * a.positions()[k]->linearXform({0, 0}).xform());
  }
  return r;
}

TEST(Rectify, EachPieceMovesItsFootprintAndThePoseHoldsFarAway) {
  const vcFlexArrangement& a = sample().arrangement;
  // Every piece at its place: the training image comes back exactly.
  vcFlexAlignResult atPlace = A::result(a.origin()->linearXform({0, 0}).xform(), 1.0);
  for (long k = 0; k < 7; ++k) A::add(atPlace, k, a.positions()[k]->linearXform({0, 0}).xform());
  const vcFlexRectified same = atPlace.rectify(a, sample().trainImage);
  vcPelBuffer_const<unsigned char> window = sample().trainImage;
  window.window(same.region);
  EXPECT_TRUE(vfPelEqual(same.image, window));
  for (float v : same.fieldX.values) ASSERT_NEAR(v, 0.0f, 1e-9);

  std::vector<vcVector<2>> moves;
  const vcFlexAlignDeformation d(handmade({0, 1, 3, 4, 5, 6}, moves), a);  // no connector (2)
  const long found[] = {0, 1, 3, 4, 5, 6};
  for (std::size_t i = 0; i < moves.size(); ++i) {
    const vcVector<2> c =
        sample().instanceCentres[static_cast<std::size_t>(found[i])] + vcVector<2>(3, 2);
    EXPECT_LT(d.mapPoint(c).distance(c + moves[i]), 1e-9);
    EXPECT_NEAR(d.largestDisplacement(found[i]), moves[i].len(), 1e-9);
  }
  // Far beyond every piece's reach: the pose. Between pieces: a blend of their moves.
  EXPECT_LT(d.mapPoint({2000, -900}).distance({2000, -900}), 1e-9);
  const vcVector<2> between(252, 175);  // 5 units beyond the body's and the latch's margins
  const vcVector<2> moved = d.mapPoint(between) - between;
  EXPECT_GT(moved.distance(moves[0]), 0.1);
  EXPECT_GT(moved.distance(moves[5]), 0.1);
  EXPECT_LT(moved.distance((moves[0] + moves[5]) * 0.5), 0.25 * moves[0].distance(moves[5]));
  // A missing piece's outline follows the deformation around it.
  EXPECT_FALSE(d.pieces()[2].found);
  EXPECT_LT(d.outline(2).vertex(0).distance(d.mapPoint(d.pieces()[2].footprint.vertex(0))), 1e-9);
}

// Every output pixel agrees with its own field: sampled (within the fixed-point rounding of a
// grey level) where the pose plus the field puts it in a windowed run image with a client
// transform, and valid exactly when that lies in the window; for any region and grid step.
TEST(Rectify, EveryPixelIsSampledWhereItsFieldSays) {
  std::vector<vcVector<2>> moves;
  const vcFlexAlignDeformation d(handmade({0, 1, 3, 4, 5, 6}, moves), sample().arrangement);
  vcPelBuffer_const<unsigned char> run = sample().trainImage;
  run.window(vcPelRect(30, 20, 300, 200));
  run.clientFromImageXform(vcXform<2>(vcMatrix<2>(), vcVector<2>(5, -3)));
  const std::pair<long, vcPelRect> cases[] = {{1, vcPelRect(-60, -40, 200, 150)},
                                              {3, vcPelRect(20, 10, 380, 300)},
                                              {8, vcPelRect(250, 180, 130, 90)},
                                              {13, vcPelRect(100, 50, 37, 23)},
                                              {64, vcPelRect(-200, -200, 700, 600)}};
  for (const auto& [step, region] : cases) {
    vcFlexRectifyParams p;
    p.gridStep = step;
    p.region = region;
    const vcFlexRectified r = d.rectify(run, p);
    int worst = 0;
    for (long y = 0; y < region.height(); ++y)
      for (long x = 0; x < region.width(); ++x) {
        const vcVector<2> a(double(region.x() + x), double(region.y() + y));
        const vcVector<2> q = run.imageFromClientXform().mapPoint(
                                  d.poseMapPoint(a) + vcVector<2>(r.fieldX.at(a.x(), a.y()),
                                                                  r.fieldY.at(a.x(), a.y()))) -
                              vcVector<2>(30, 20);
        const double edge = std::min({std::fabs(q.x() + 0.5), std::fabs(q.x() - 299.5),
                                      std::fabs(q.y() + 0.5), std::fabs(q.y() - 199.5)});
        if (edge < 0.01) continue;  // on the window's border rounding decides
        const bool in = q.x() > -0.5 && q.x() < 299.5 && q.y() > -0.5 && q.y() < 199.5;
        ASSERT_EQ(r.mask.get(x, y), in ? 255 : 0) << step << " at " << a;
        if (!in) continue;
        const double qx = std::clamp(q.x(), 0.0, 299.0), qy = std::clamp(q.y(), 0.0, 199.0);
        const long x0 = std::min(long(qx), 298L), y0 = std::min(long(qy), 198L);
        const double ax = qx - x0, ay = qy - y0;
        auto g = [&](long i, long j) { return double(run.get(x0 + i, y0 + j)); };
        const double v = (1 - ay) * ((1 - ax) * g(0, 0) + ax * g(1, 0)) +
                         ay * ((1 - ax) * g(0, 1) + ax * g(1, 1));
        worst = std::max(worst, std::abs(int(r.image.get(x, y)) - int(std::lround(v))));
      }
    EXPECT_LE(worst, 1) << "grid step " << step;
  }
}

TEST(Rectify, BadInputIsRefusedWithAMessageAndDeformationsArchive) {
  const vcFlexArrangement& a = sample().arrangement;
  std::vector<vcVector<2>> moves;
  const vcFlexAlignResult r = handmade({0, 3, 6}, moves);
  const vcFlexAlignDeformation d(r, a);
  const vcPelBuffer<unsigned char> img(64, 48);
  auto refuses = [&](const vcFlexAlignDeformation& x, const vcFlexRectifyParams& p,
                     const char* words) {
    try {
      x.rectify(img, p);
      ADD_FAILURE() << "accepted: " << words;
    } catch (const D::BadParams& e) {
      EXPECT_NE(e.messageText().find(words), std::string::npos) << e.messageText();
    }
  };
  vcFlexRectifyParams p;
  p.gridStep = 0;
  refuses(d, p, "grid step");
  p = {}, p.reach = std::nan("");
  refuses(d, p, "reach");
  p = {}, p.margin = -1;
  refuses(d, p, "margin");
  p = {}, p.region = vcPelRect(0, 0, 100000, 100000);
  refuses(d, p, "at most");
  const vcFlexArrangement blank({vcFlexSubModel(std::string("label"))});
  refuses(vcFlexAlignDeformation(vcFlexAlignResult(), blank), {}, "give the rectify region");
  EXPECT_THROW(d.rectify(vcPelBuffer_const<unsigned char>()), D::BadImage);
  vcFlexAlignResult other = r;  // from a larger arrangement
  A::add(other, 9, vcXform<2>());
  EXPECT_THROW(vcFlexAlignDeformation(other, a), D::BadIndex);
  EXPECT_THROW(d.outline(8), D::BadIndex);
  // A region beyond the run image is no error: all fill, nothing valid.
  p = {}, p.region = vcPelRect(5000, 5000, 20, 10), p.fill = 7;
  const vcFlexRectified far = d.rectify(img, p);
  for (long y = 0; y < 10; ++y)
    for (long x = 0; x < 20; ++x) ASSERT_EQ(far.image.get(x, y) * 1000 + far.mask.get(x, y), 7000);

  // Archived and back; a damaged archive fails cleanly and changes nothing.
  vcFlexAlignDeformation copy = d;
  const vcTest::Bytes good = vcTest::storeBytes(copy);
  vcFlexAlignDeformation back;
  EXPECT_EQ(vcTest::loadBytes(good, back), 0u);
  for (const vcVector<2>& q : {vcVector<2>(120, 110), vcVector<2>(200, 212), vcVector<2>(-50, 9)})
    EXPECT_EQ(back.mapPoint(q), d.mapPoint(q));
  EXPECT_EQ(back.nominalRegion(), d.nominalRegion());
  int loaded = 0;
  vcTest::forEachDamagedCopy(good, 300, 11, [&](const vcTest::Bytes& b) {
    vcFlexAlignDeformation t = back;
    try {
      vcTest::loadBytes(b, t);
      ++loaded;
    } catch (const vcException&) {
      ASSERT_EQ(t.mapPoint({120, 110}), d.mapPoint({120, 110}));
    }
  });
  EXPECT_LT(loaded, 300);
}

}  // namespace
