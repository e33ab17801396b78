#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/core/vcAngle.h"
#include "platform/core/vcArchive.h"
#include "platform/display/vc2Wireframe.h"
#include "support/archive_check.h"
#include "vcFlexModels.h"

namespace {

using Image = vcPelBuffer<unsigned char>;

// A bright rectangle on a dark ground: enough edges for the engine to train on.
Image blockImage(long w, long h) {
  Image img(w, h);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x)
      img.set(x, y, (x > w / 4 && x < 3 * w / 4 && y > h / 3 && y < 2 * h / 3) ? 200 : 30);
  return img;
}

vc2Wireframe square(double x0, double y0, double side) {
  vc2Wireframe w;
  const vcDimTol none;
  w.insertVertex({x0, y0}, -1, vcRadian(0), none);
  w.insertVertex({x0 + side, y0}, -1, vcRadian(0), none);
  w.insertVertex({x0 + side, y0 + side}, -1, vcRadian(0), none);
  w.insertVertex({x0, y0 + side}, -1, vcRadian(0), none);
  w.close(vcRadian(0), none);
  return w;
}

template <class F>
std::string badParamsMessage(F&& f) {
  try {
    f();
  } catch (const vcFlexModelDefs::BadParams& e) {
    EXPECT_EQ(e.errorNumber(), 0x10005D01);
    return e.message();
  }
  return "<no BadParams>";
}

vcFlexSubModel roundTrip(vcFlexSubModel& s) {
  vcFlexSubModel loaded("other");
  const vcTest::Bytes bytes = vcTest::storeBytes(s);
  EXPECT_EQ(vcTest::loadBytes(bytes, loaded), 0u);
  return loaded;
}

const vcXform<2> kScale2(vcMatrix<2>(2.0, 1.0, vcRadian(0), vcRadian(0)), vcVector<2>(0, 0));

}  // namespace

TEST(SubModel, ConstructionValidatesInput) {
  const Image img = blockImage(20, 10);
  EXPECT_EQ(badParamsMessage([] { vcFlexSubModel s(vcPelBuffer_const<unsigned char>(), "a"); }),
            "The image is unbound");
  EXPECT_EQ(badParamsMessage([] { vcFlexSubModel s(Image(0, 0), "a"); }),
            "The image has a Null Window");
  EXPECT_EQ(
      badParamsMessage([&] { vcFlexSubModel s(img, vcPelBuffer_const<unsigned char>(), "a"); }),
      "Mask image has to be bound");
  EXPECT_EQ(badParamsMessage([&] { vcFlexSubModel s(img, Image(20, 11), "a"); }),
            "Mask image size does not match image size");
  // Same size, other offset.
  Image big(40, 40);
  vcPelBuffer_const<unsigned char> a = big, b = big;
  ASSERT_TRUE(a.window(vcPelRect(0, 0, 10, 10)));
  ASSERT_TRUE(b.window(vcPelRect(5, 0, 10, 10)));
  EXPECT_EQ(badParamsMessage([&] { vcFlexSubModel s(a, b, "a"); }),
            "Mask image size does not match image size");
  // The unbound image is reported before a bad mask.
  EXPECT_EQ(badParamsMessage(
                [&] { vcFlexSubModel s(vcPelBuffer_const<unsigned char>(), Image(3, 3), "a"); }),
            "The image is unbound");

  const vc2XformLinear id;
  const std::vector<vc2Wireframe> two = {square(0, 0, 10), square(20, 0, 10)};
  EXPECT_EQ(badParamsMessage([&] { vcFlexSubModel s(std::vector<vc2Wireframe>(), id, "a"); }),
            "No shapes are provided");
  EXPECT_EQ(badParamsMessage([&] { vcFlexSubModel s({}, std::vector<double>{}, id, "a"); }),
            "No shapes are provided");
  EXPECT_EQ(badParamsMessage([&] { vcFlexSubModel s(two, {1.0}, id, "a"); }),
            "Weights do not match the shapes");
  const std::string range = "One or more weights are outside the valid range (-1, 1)";
  EXPECT_EQ(badParamsMessage([&] { vcFlexSubModel s(two, {1.0, 1.0000001}, id, "a"); }), range);
  EXPECT_EQ(badParamsMessage([&] { vcFlexSubModel s(two, {-1.0000001, 0.5}, id, "a"); }), range);
  EXPECT_EQ(badParamsMessage([&] { vcFlexSubModel s(two, {0.5, std::nan("")}, id, "a"); }), range);
  // The bounds themselves are accepted.
  vcFlexSubModel ok(two, {-1.0, 1.0}, id, "ends");
  EXPECT_EQ(ok.weights(), (std::vector<double>{-1.0, 1.0}));
}

TEST(SubModel, KindsAndAccessors) {
  const vcFlexSubModel blank("blank");
  EXPECT_EQ(blank.modelType(), vcFlexModelDefs::eBlank);
  EXPECT_EQ(blank.name(), "blank");
  EXPECT_EQ(blank.encloseRect(), vcRect(0, 0, 0, 0));
  EXPECT_EQ(blank.encloseImageRect(), vcRect(0, 0, 0, 0));
  EXPECT_EQ(vcFlexSubModelHelper::featureArea(blank), 0.0);
  EXPECT_EQ(blank.symmetry(), 0u);
  EXPECT_THROW(blank.image(), vcFlexModelDefs::WrongModelType);
  EXPECT_THROW(blank.shapes(), vcFlexModelDefs::WrongModelType);

  const Image img = blockImage(20, 10);
  const vcFlexSubModel plain(img, "plain");
  EXPECT_EQ(plain.modelType(), vcFlexModelDefs::eImage);
  EXPECT_TRUE(plain.image().sharesPixelsWith(img));  // referenced, not copied
  EXPECT_FALSE(plain.mask().isBound());
  EXPECT_EQ(vcFlexSubModelHelper::featureArea(plain), 200.0);
  EXPECT_THROW(plain.shapes(), vcFlexModelDefs::WrongModelType);
  EXPECT_THROW(plain.weights(), vcFlexModelDefs::WrongModelType);

  const vcFlexSubModel synth({square(0, 0, 10)}, vc2XformLinear(), "synth");
  EXPECT_EQ(synth.weights(), std::vector<double>{1.0});
  EXPECT_EQ(synth.shapes().size(), 1u);
  EXPECT_THROW(synth.image(), vcFlexModelDefs::WrongModelType);
  EXPECT_THROW(synth.mask(), vcFlexModelDefs::WrongModelType);
  try {
    synth.image();
  } catch (const vcFlexModelDefs::WrongModelType& e) {
    EXPECT_EQ(e.message(), "");
  }
}

TEST(SubModel, FeatureAreaFromMask) {
  // A window inside a wider image: the count must step by the root row pitch.
  Image bigImg = blockImage(30, 20), bigMask(30, 20);
  vfPelSet_U8(bigMask, 255);
  vcPelBuffer_const<unsigned char> img = bigImg;
  vcPelBuffer<unsigned char> mask = bigMask;
  ASSERT_TRUE(img.window(vcPelRect(4, 3, 10, 6)));
  ASSERT_TRUE(mask.window(vcPelRect(4, 3, 10, 6)));
  vfPelSet_U8(mask, 0);
  EXPECT_EQ(vcFlexSubModelHelper::featureArea(vcFlexSubModel(img, mask, "m")), 0.0);
  vfPelSet_U8(mask, 128);
  EXPECT_EQ(vcFlexSubModelHelper::featureArea(vcFlexSubModel(img, mask, "m")), 60.0);
  // 127 does not count, 128 and above do; pixels outside the window never count.
  vfPelSet_U8(mask, 127);
  mask.set(0, 0, 128);
  mask.set(9, 5, 255);
  mask.set(3, 2, 200);
  const vcFlexSubModel s(img, mask, "m");
  EXPECT_EQ(vcFlexSubModelHelper::featureArea(s), 3.0);
  EXPECT_TRUE(s.mask().sharesPixelsWith(mask));
}

TEST(SubModel, RectanglesAndOrigin) {
  // Window at (4, 3) of size 10 x 6 under client = 2 * image + (1, -1).
  Image root = blockImage(30, 20);
  root.clientFromImageXform(vcXform<2>(kScale2.matrix(), vcVector<2>(1, -1)));
  vcPelBuffer_const<unsigned char> img = root;
  ASSERT_TRUE(img.window(vcPelRect(4, 3, 10, 6)));
  vcFlexSubModel s(img, "w");
  EXPECT_EQ(s.encloseImageRect(), vcRect(4, 3, 10, 6));
  EXPECT_EQ(s.encloseRect(), vcRect(9, 5, 20, 12));
  EXPECT_EQ(s.clientFromImage()->mapPoint({1, 1}), vcVector<2>(3, 1));
  const vcVector<2> back = s.imageFromClient()->mapPoint({3, 1});
  EXPECT_NEAR(back.x(), 1.0, 1e-12);
  EXPECT_NEAR(back.y(), 1.0, 1e-12);
  EXPECT_EQ(vcFlexSubModelHelper::centerPt(s), vcVector<2>(19, 11));

  // Origin moved: centerPt is the rectangle's centre in sub-model coordinates.
  s.origin(vc2XformLinear(vcMatrix<2>(), vcVector<2>(10, 1)));
  EXPECT_EQ(vcFlexSubModelHelper::centerPt(s), vcVector<2>(9, 10));
  EXPECT_EQ(s.originInverse()->mapPoint({10, 1}), vcVector<2>(0, 0));

  // A non-linear origin is refused and changes nothing.
  const vc2XformPoly curved({{0, 0}, {1, 0}, {0, 1}, {1, 1}, {2, 0}, {0, 2}},
                            {{0, 0}, {1, 0}, {0, 1}, {1, 1.5}, {2.2, 0}, {0, 2}}, 2);
  ASSERT_FALSE(curved.isLinear());
  const vcPtrHandle_const<vc2XformBase> before = s.origin();
  try {
    s.origin(curved);
    ADD_FAILURE() << "non-linear origin accepted";
  } catch (const vcFlexModelDefs::NotImplemented& e) {
    EXPECT_EQ(e.message(), "");
  }
  EXPECT_EQ(s.origin().ptr(), before.ptr());

  // A singular origin leaves the inverse at identity.
  s.origin(vc2XformLinear(vcMatrix<2>(0, 0, 0, 0), vcVector<2>(5, 5)));
  EXPECT_EQ(s.originInverse()->mapPoint({7, 8}), vcVector<2>(7, 8));
}

TEST(SubModel, SyntheticExtentAndFeatureArea) {
  // Shapes in client coordinates; image = client / 2.
  const vc2XformLinear clientFromImage(kScale2);
  const vcFlexSubModel s({square(0, 0, 10), square(30, 20, 10)}, {0.5, -0.25}, clientFromImage,
                         "two");
  EXPECT_EQ(s.modelType(), vcFlexModelDefs::eSynthetic);
  EXPECT_EQ(s.encloseRect(), vcRect(0, 0, 40, 30));
  EXPECT_EQ(s.encloseImageRect(), vcRect(0, 0, 20, 15));
  EXPECT_EQ(vcFlexSubModelHelper::featureArea(s), 300.0);
  EXPECT_EQ(s.imageFromClient()->mapPoint({40, 30}), vcVector<2>(20, 15));
  EXPECT_EQ(vcFlexSubModelHelper::centerPt(s), vcVector<2>(20, 15));
}

TEST(SubModel, SymmetricShapesReportTheirSymmetry) {
  // Code bits: 1 half-turn, 2 quarter-turn or n-fold, 4 mirror, 8 every rotation or a
  // half-turn together with another symmetry.
  const vc2XformLinear identity;
  const vcFlexSubModel sq({square(-20, -20, 40)}, identity, "square");
  EXPECT_EQ(sq.symmetry(), 15u);

  vc2Wireframe disc;  // two half-circle arcs of radius 20
  const vcDimTol none;
  disc.insertVertex({20, 0}, -1, vcRadian(0), none);
  disc.insertVertex({-20, 0}, -1, vcRadian(vcPi), none);
  disc.close(vcRadian(vcPi), none);
  const vcFlexSubModel round({disc}, identity, "disc");
  EXPECT_NE(round.symmetry() & 8u, 0u) << round.symmetry();

  // An L shape with unequal arms has no symmetry at all.
  vc2Wireframe ell;
  for (const vcVector<2>& p : {vcVector<2>(0, 0), vcVector<2>(40, 0), vcVector<2>(40, 10),
                               vcVector<2>(10, 10), vcVector<2>(10, 30), vcVector<2>(0, 30)})
    ell.insertVertex(p, -1, vcRadian(0), none);
  ell.close(vcRadian(0), none);
  const vcFlexSubModel el({ell}, identity, "ell");
  EXPECT_EQ(el.symmetry(), 0u);

  // A square image sub-model is found symmetric as well, and the code survives an archive.
  Image img(64, 64);
  for (long y = 0; y < 64; ++y)
    for (long x = 0; x < 64; ++x)
      img.set(x, y, (x >= 16 && x < 48 && y >= 16 && y < 48) ? 200 : 30);
  vcFlexSubModel fromImage(img, "image square");
  EXPECT_EQ(fromImage.symmetry(), 15u);
  EXPECT_EQ(roundTrip(fromImage).symmetry(), fromImage.symmetry());
}

TEST(SubModel, FailedTrainingIsNotAnError) {
  // A flat image has no edges; the sub-model still builds and reports no symmetry.
  Image flat(16, 16);
  vfPelSet_U8(flat, 90);
  const vcFlexSubModel s(flat, "flat");
  EXPECT_EQ(s.symmetry(), 0u);
  EXPECT_EQ(s.symmetryParams(), vcVector<2>(0, 0));
}

TEST(SubModel, CopyOwnsPixelsAndSharesOrigin) {
  Image root = blockImage(30, 20), rootMask(30, 20);
  vfPelSet_U8(rootMask, 255);
  vcPelBuffer<unsigned char> img = root, mask = rootMask;
  ASSERT_TRUE(img.window(vcPelRect(5, 2, 12, 8)));
  ASSERT_TRUE(mask.window(vcPelRect(5, 2, 12, 8)));
  vcFlexSubModel src(img, mask, "src");
  src.origin(vc2XformLinear(vcMatrix<2>(), vcVector<2>(3, 4)));

  const vcFlexSubModel copy(src);
  EXPECT_TRUE(copy == src);
  EXPECT_FALSE(copy.image().sharesPixelsWith(src.image()));
  EXPECT_FALSE(copy.mask().sharesPixelsWith(src.mask()));
  EXPECT_EQ(copy.image().window(), src.image().window());
  EXPECT_EQ(copy.origin().ptr(), src.origin().ptr());
  EXPECT_EQ(copy.originInverse().ptr(), src.originInverse().ptr());
  EXPECT_NE(copy.clientFromImage().ptr(), src.clientFromImage().ptr());

  vcFlexSubModel assigned("x");
  assigned = src;
  EXPECT_TRUE(assigned == src);

  // Changing the caller's pixels afterwards changes the source, not the copies.
  const unsigned char was = img.get(3, 3);
  ASSERT_NE(was, 7);
  img.set(3, 3, 7);
  mask.set(0, 0, 0);
  EXPECT_EQ(copy.image().get(3, 3), was);
  EXPECT_EQ(copy.mask().get(0, 0), 255);
  EXPECT_FALSE(copy == src);
  EXPECT_FALSE(assigned == src);
}

TEST(SubModel, EqualityDistinguishesFields) {
  const Image img = blockImage(20, 10);
  const vcFlexSubModel a(img, "a");
  EXPECT_TRUE(a == vcFlexSubModel(img, "a"));
  EXPECT_FALSE(a == vcFlexSubModel(img, "b"));
  EXPECT_FALSE(a == vcFlexSubModel("a"));
  Image other = blockImage(20, 10);
  other.set(0, 0, 31);
  EXPECT_FALSE(a == vcFlexSubModel(other, "a"));
  Image mask(20, 10);
  vfPelSet_U8(mask, 255);
  EXPECT_FALSE(a == vcFlexSubModel(img, mask, "a"));  // only one has a mask
  vcFlexSubModel moved(img, "a");
  moved.origin(vc2XformLinear(vcMatrix<2>(), vcVector<2>(0, 1e-9)));
  EXPECT_FALSE(a == moved);

  const vc2XformLinear id;
  const vcFlexSubModel w1({square(0, 0, 10)}, {0.5}, id, "s");
  EXPECT_TRUE(w1 == vcFlexSubModel({square(0, 0, 10)}, {0.5}, id, "s"));
  EXPECT_FALSE(w1 == vcFlexSubModel({square(0, 0, 10)}, {0.25}, id, "s"));
  EXPECT_FALSE(w1 == vcFlexSubModel({square(0, 0, 11)}, {0.5}, id, "s"));
  EXPECT_FALSE(w1 == vcFlexSubModel({square(0, 0, 10)}, {0.5}, vc2XformLinear(kScale2), "s"));
}

TEST(SubModel, ArchiveRoundTrips) {
  Image root = blockImage(30, 20), rootMask(30, 20);
  for (long y = 0; y < 20; ++y)
    for (long x = 0; x < 30; ++x)
      rootMask.set(x, y, static_cast<unsigned char>((x * 37 + y) & 255));
  root.clientFromImageXform(vcXform<2>(kScale2.matrix(), vcVector<2>(-3, 2)));
  vcPelBuffer_const<unsigned char> img = root, mask = rootMask;
  ASSERT_TRUE(img.window(vcPelRect(6, 4, 14, 9)));
  ASSERT_TRUE(mask.window(vcPelRect(6, 4, 14, 9)));
  vcFlexSubModel masked(img, mask, "masked");
  masked.origin(vc2XformLinear(vcMatrix<2>(1.5, 1.0, vcRadian(0), vcRadian(0.3)), {2, 3}));

  vcFlexSubModel synth({square(0, 0, 10), square(5, 5, 3)}, {0.75, -1.0}, vc2XformLinear(kScale2),
                       "synth");
  vcFlexSubModel blank("blank");
  for (vcFlexSubModel* s : {&masked, &synth, &blank}) {
    const vcFlexSubModel loaded = roundTrip(*s);
    EXPECT_TRUE(loaded == *s) << s->name();
    EXPECT_EQ(loaded.modelType(), s->modelType());
    EXPECT_EQ(loaded.encloseRect(), s->encloseRect());
    EXPECT_EQ(loaded.encloseImageRect(), s->encloseImageRect());
    EXPECT_EQ(vcFlexSubModelHelper::centerPt(loaded), vcFlexSubModelHelper::centerPt(*s));
    EXPECT_EQ(vcFlexSubModelHelper::featureArea(loaded), vcFlexSubModelHelper::featureArea(*s));
  }
  EXPECT_EQ(roundTrip(masked).image().offset(), vcPair<long>(6, 4));
}

TEST(SubModel, ArchiveRefusesBadData) {
  vcFlexSubModel s({square(0, 0, 10)}, vc2XformLinear(), "s");
  vcTest::Bytes bytes = vcTest::storeBytes(s);
  vcTest::Bytes wrongVersion = bytes;
  wrongVersion[0] = 1;
  vcFlexSubModel target(blockImage(8, 8), "target");
  const vcFlexSubModel before(target);
  try {
    vcTest::loadBytes(wrongVersion, target);
    ADD_FAILURE() << "version 1 accepted";
  } catch (const vcArchive::UnknownVersion& e) {
    EXPECT_EQ(e.text(), "submod");
    EXPECT_EQ(e.number(), 390);
  }
  EXPECT_TRUE(target == before);

  // Any damage either loads a usable sub-model or fails cleanly, leaving the target alone.
  int failures = 0;
  vcTest::forEachDamagedCopy(bytes, 200, 7, [&](const vcTest::Bytes& b) {
    vcFlexSubModel t("t");
    bool loaded = false;
    try {
      vcTest::loadBytes(b, t);
      loaded = true;
    } catch (const vcException&) {
      ++failures;
      EXPECT_EQ(t.name(), "t");
    }
    if (loaded) {
      // Whatever loaded is self-consistent: it compares and measures without failing.
      EXPECT_NO_THROW((void)(t == s));
      EXPECT_NO_THROW((void)vcFlexSubModelHelper::centerPt(t));
    }
  });
  EXPECT_GT(failures, 0);
}
