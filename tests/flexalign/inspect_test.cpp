#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>

#include "support/archive_check.h"
#include "support/flex_sample_once.h"
#include "tools/testing/vcFlexSample.h"
#include "vcFlexInspect.h"

// The golden model on the flexible sample part, flexed as the benchmarks flex it (pieces moved
// up to 4 px and turned up to 3 degrees, noise sigma 5, blur 1), with defects drawn on its
// pieces where the truth puts them. A named namespace: the tests of this folder compile in one
// batch, beside the rectify tests' own flexed sample.
namespace golden_test {

using D = vcFlexAlignDefs;

using flex_sample_once::pattern;
using flex_sample_once::sample;

const vcFlexAlignRunParams& runParams() {
  static const vcFlexAlignRunParams rp = vfFlexSampleRunParams(D::eLocallyFixturedSubModels, 0.5);
  return rp;
}

// A defect drawn on piece `piece`: `inside` says which arrangement points it covers, `paint`
// what it makes of the grey level there; `truth` is its centre, arrangement units.
struct Defect {
  long piece;
  vcVector<2> truth;
  std::function<bool(const vcVector<2>&)> inside;
  std::function<int(int)> paint;
};

double segmentDistance(const vcVector<2>& p, const vcVector<2>& a, const vcVector<2>& b) {
  const vcVector<2> e = b - a;
  const double t = std::clamp((p - a).dot(e) / e.dot(e), 0.0, 1.0);
  return p.distance(a + e * t);
}

// A dark scratch 2.5 px wide from a to b.
Defect scratch(long piece, vcVector<2> a, vcVector<2> b, int grey) {
  return {piece, (a + b) * 0.5,
          [=](const vcVector<2>& p) { return segmentDistance(p, a, b) < 1.25; },
          [=](int) { return grey; }};
}

// A 10 x 10 blob `delta` grey levels off the part, its corner at c.
Defect blob(long piece, vcVector<2> c, int delta) {
  return {piece, c + vcVector<2>(5, 5),
          [=](const vcVector<2>& p) {
            return p.x() >= c.x() && p.x() < c.x() + 10 && p.y() >= c.y() && p.y() < c.y() + 10;
          },
          [=](int v) { return std::clamp(v + delta, 0, 255); }};
}

// The body's hole (radius 14 at (80, 70)) filled with the body's grey: a missing feature.
Defect missingHole() {
  const vcVector<2> c(80, 70);
  return {0, c, [=](const vcVector<2>& p) { return p.distance(c) < 15.5; },
          [](int) { return 210; }};
}

struct Flexed {
  vcFlexSampleImage run;
  vcFlexAlignResultSet found;
  // Arrangement to image for piece k as drawn.
  vcXform<2> truth(std::size_t k) const {
    return run.truth[k] *
           sample().arrangement.positions()[k]->inverseBase()->linearXform({0, 0}).xform();
  }
};

// The part somewhere near the image's centre, turned up to 9 degrees; defects drawn after the
// noise, as a scratch on a real part would be.
Flexed flexed(std::uint32_t seed, const std::vector<Defect>& defects = {}) {
  vcFlexSampleOptions opt;
  opt.partPose = vfFlexSamplePose(sample(), -9.0 + 3.0 * (seed % 7), 1.0, double(seed % 11) - 5,
                                  double(seed % 5) * 2 - 4);
  opt.seed = seed;
  opt.noiseSigma = 5;
  opt.blurSigma = 1.0;
  Flexed f;
  f.run = vfRenderFlexSample(sample(), opt);
  for (const Defect& d : defects) {
    const vcXform<2> toArr = f.truth(std::size_t(d.piece)).inverse();
    for (long y = 0; y < f.run.image.height(); ++y)
      for (long x = 0; x < f.run.image.width(); ++x)
        if (d.inside(toArr.mapPoint({double(x), double(y)})))
          f.run.image.set(x, y, static_cast<unsigned char>(d.paint(f.run.image.get(x, y))));
  }
  pattern().run(f.run.image, vc2XformLinear(vfFlexSamplePose(sample(), 0, 1)), {}, runParams(),
                f.found);
  return f;
}

vcFlexGoldenModel trainOn(const std::vector<std::uint32_t>& seeds,
                          const vcFlexGoldenParams& params = vcFlexGoldenParams()) {
  std::vector<vcFlexAlignResult> results;
  std::vector<vcPelBuffer_const<unsigned char>> images;
  for (std::uint32_t s : seeds) {
    const Flexed f = flexed(s);
    EXPECT_FALSE(f.found.results().empty());
    if (f.found.results().empty()) continue;
    results.push_back(f.found.results()[0]);
    images.push_back(f.run.image);
  }
  return vcFlexGoldenModel::train(sample().arrangement, results, images, params);
}

const std::vector<std::uint32_t> kTrainSeeds = {101, 102, 103, 104, 105, 106, 107, 108, 109, 110};

const vcFlexGoldenModel& model() {
  static const vcFlexGoldenModel m = trainOn(kTrainSeeds);
  return m;
}

vcFlexInspection inspect(const vcFlexGoldenModel& m, const Flexed& f, bool difference = false) {
  return m.inspect(sample().arrangement, f.found, f.run.image, difference);
}

// Ten good images train the model; fifty others, each flexed its own way, pass without a
// single defect.
TEST(GoldenModel, FiftyGoodFlexedPartsPass) {
  EXPECT_EQ(model().imageCount(), 10);
  EXPECT_EQ(model().region(), vcPelRect(28, 28, 342, 251));
  EXPECT_GT(model().coverage(), 0.99);
  for (std::uint32_t seed = 200; seed < 250; ++seed) {
    const vcFlexInspection r = inspect(model(), flexed(seed));
    EXPECT_EQ(r.verdict, vcFlexInspection::ePass) << "seed " << seed;
    for (const vcFlexDefect& d : r.defects)
      ADD_FAILURE() << "seed " << seed << ": false defect of " << d.area << " px at "
                    << d.nominalCentroid.x() << ", " << d.nominalCentroid.y();
  }
}

// Every drawn defect of 20 px or more is reported once, on its piece, its centroid within 3 px
// of the truth in the run image, and nothing else is.
TEST(GoldenModel, ReportsEveryDefectWhereItLiesInTheRunImage) {
  const std::vector<std::vector<Defect>> cases = {
      {scratch(0, {60, 120}, {105, 185}, 90), blob(2, {280, 225}, 20), blob(6, {266, 172}, -20)},
      {missingHole(), scratch(1, {270, 75}, {325, 85}, 60), blob(4, {142, 236}, -20)},
      {blob(0, {170, 55}, 20), scratch(2, {275, 235}, {325, 225}, 120)},
  };
  for (std::size_t c = 0; c < cases.size(); ++c) {
    const Flexed f = flexed(std::uint32_t(300 + c), cases[c]);
    const vcFlexInspection r = inspect(model(), f, true);
    EXPECT_EQ(r.verdict, vcFlexInspection::eFail);
    EXPECT_EQ(r.defects.size(), cases[c].size()) << "case " << c;
    for (const Defect& d : cases[c]) {
      const vcVector<2> truth = f.truth(std::size_t(d.piece)).mapPoint(d.truth);
      const vcFlexDefect* hit = nullptr;
      for (const vcFlexDefect& g : r.defects)
        if (g.centroid.distance(truth) < 3.0) hit = &g;
      ASSERT_NE(hit, nullptr) << "case " << c << ": nothing at " << truth.x() << ", " << truth.y()
                              << " (" << sample().instanceNames[std::size_t(d.piece)] << ")";
      EXPECT_EQ(hit->piece, d.piece);
      EXPECT_GE(hit->area, 20);
      EXPECT_GT(hit->excess, 0);
      EXPECT_TRUE(hit->box.contains(long(std::lround(truth.x())), long(std::lround(truth.y()))));
      // The difference image holds the defect's sign at its worst pixel.
      const vcVector<2>& n = hit->nominalCentroid;
      EXPECT_NE(r.difference.at(long(n.x()), long(n.y())), 0.0f);
    }
  }
}

// Rectified by the part's rigid pose alone, as a rigid tool would, the same good parts raise
// false alarms along the edges of the pieces that moved: the reason the flex is undone first.
TEST(GoldenModel, RigidPoseAloneRaisesFalseAlarmsOnMovedPieces) {
  vcFlexGoldenParams rigid;
  rigid.rectify.poseOnly = true;
  const vcFlexGoldenModel m = trainOn(kTrainSeeds, rigid);
  long failed = 0, defects = 0;
  for (std::uint32_t seed = 200; seed < 210; ++seed) {
    const Flexed f = flexed(seed);
    const vcFlexInspection r = inspect(m, f);
    failed += r.verdict == vcFlexInspection::eFail;
    const vcFlexAlignDeformation pose(f.found.results()[0], sample().arrangement);
    for (const vcFlexDefect& d : r.defects) {
      ++defects;
      ASSERT_GE(d.piece, 0);
      const std::size_t k = std::size_t(d.piece);
      const vcVector<2> c = sample().instanceCentres[k];
      EXPECT_GT(f.truth(k).mapPoint(c).distance(pose.poseMapPoint(c)), 0.5)
          << sample().instanceNames[k] << " seed " << seed;
    }
    EXPECT_EQ(inspect(model(), f).verdict, vcFlexInspection::ePass);
  }
  EXPECT_GE(failed, 8);
  EXPECT_GE(defects, 20);
}

// Not found is its own verdict, with the run's reason; bad input is refused and loses nothing.
TEST(GoldenModel, NotFoundAndBadInput) {
  Flexed blank = flexed(400);
  blank.run.image = vcPelBuffer<unsigned char>(640, 480);
  for (long y = 0; y < 480; ++y)
    for (long x = 0; x < 640; ++x) blank.run.image.set(x, y, 40);
  blank.found = vcFlexAlignResultSet();
  pattern().run(blank.run.image, vc2XformLinear(vfFlexSamplePose(sample(), 0, 1)), {}, runParams(),
                blank.found);
  const vcFlexInspection none = inspect(model(), blank);
  EXPECT_EQ(none.verdict, vcFlexInspection::eNotFound);
  EXPECT_FALSE(none.reason.found());
  EXPECT_TRUE(none.defects.empty());

  const Flexed f = flexed(401);
  std::vector<vcFlexAlignResult> results(4, f.found.results()[0]);
  std::vector<vcPelBuffer_const<unsigned char>> images(4, f.run.image);
  EXPECT_THROW(vcFlexGoldenModel::train(sample().arrangement, results, images), D::BadParams);
  results.push_back(f.found.results()[0]);
  images.push_back(vcPelBuffer<unsigned char>(320, 240));
  EXPECT_THROW(vcFlexGoldenModel::train(sample().arrangement, results, images), D::BadImage);
  vcFlexGoldenParams bad;
  bad.floor = -1;
  images.back() = f.run.image;
  EXPECT_THROW(vcFlexGoldenModel::train(sample().arrangement, results, images, bad), D::BadParams);
  EXPECT_THROW(vcFlexGoldenModel().inspect(sample().arrangement, f.found, f.run.image),
               D::BadParams);

  vcPelBuffer<unsigned char> small(320, 240);
  EXPECT_THROW(model().inspect(sample().arrangement, f.found.results()[0], small), D::BadImage);
  // Another part: the same pieces placed elsewhere.
  const vcFlexArrangement& a = sample().arrangement;
  std::vector<vcPtrHandle_const<vc2XformBase>> places = a.positions();
  places[1] = vcPtrHandle_const<vc2XformBase>(
      new vc2XformLinear(vcXform<2>(vcMatrix<2>(), vcVector<2>(290, 70))));
  vcFlexArrangement other(a.subModels(), a.subModelIndices(), places);
  other.origin(*a.origin());
  EXPECT_THROW(model().inspect(other, f.found.results()[0], f.run.image), D::BadParams);
}

// The model archives with its version and loads to the same inspection; damaged bytes are
// refused and leave the model as it was. A model of part of the body keeps the bytes few.
TEST(GoldenModel, ArchivesAndRefusesDamagedBytes) {
  vcFlexGoldenParams corner;
  corner.rectify.region = vcPelRect(40, 40, 80, 60);
  vcFlexGoldenModel m = trainOn(kTrainSeeds, corner);
  EXPECT_EQ(m.region(), corner.rectify.region);
  const vcTest::Bytes bytes = vcTest::storeBytes(m);
  vcFlexGoldenModel loaded;
  EXPECT_EQ(vcTest::loadBytes(bytes, loaded), 0u);
  EXPECT_EQ(loaded.region(), m.region());
  EXPECT_EQ(loaded.tolerance().values, m.tolerance().values);
  const Flexed f = flexed(302, {blob(0, {95, 45}, 20)});
  const vcFlexInspection a = inspect(m, f), b = inspect(loaded, f);
  ASSERT_EQ(a.defects.size(), 1u);
  ASSERT_EQ(b.defects.size(), 1u);
  EXPECT_EQ(a.defects[0].area, b.defects[0].area);
  EXPECT_EQ(a.defects[0].centroid, b.defects[0].centroid);

  vcTest::Bytes newer = bytes;
  newer[0] = 1;
  EXPECT_THROW(vcTest::loadBytes(newer, loaded), vcArchive::UnknownVersion);
  int refused = 0;
  vcTest::forEachDamagedCopy(bytes, 40, 7, [&](const vcTest::Bytes& damaged) {
    vcFlexGoldenModel target = m;
    try {
      vcTest::loadBytes(damaged, target);
    } catch (const vcException&) {
      ++refused;
      EXPECT_EQ(target.mean().values, m.mean().values);
    }
  });
  EXPECT_GT(refused, 4000);
}

}  // namespace golden_test
