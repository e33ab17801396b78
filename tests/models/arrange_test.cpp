#include <gtest/gtest.h>

#include <string>

#include "platform/core/vcArchive.h"
#include "support/archive_check.h"
#include "vcFlexModels.h"

namespace {

using Image = vcPelBuffer<unsigned char>;
using Xf = vcPtrHandle_const<vc2XformBase>;

Xf shift(double x, double y) { return new vc2XformLinear(vcMatrix<2>(), vcVector<2>(x, y)); }
Xf scaled(double s, double x, double y) {
  return new vc2XformLinear(vcMatrix<2>(s, 1.0, vcRadian(0), vcRadian(0)), vcVector<2>(x, y));
}

// An image sub-model w x h pixels covering [0, w] x [0, h] in client coordinates.
vcFlexSubModel imageModel(long w, long h, const std::string& name) {
  Image img(w, h);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x)
      img.set(x, y, static_cast<unsigned char>((x / 3 + y / 3) % 2 ? 220 : 20));
  return vcFlexSubModel(img, name);
}

std::vector<std::string> names(const vcFlexArrangement& a) {
  std::vector<std::string> out;
  for (const vcFlexSubModel& s : a.subModels()) out.push_back(s.name());
  return out;
}

template <class E, class F>
std::string messageOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.message();
  }
  return "<not raised>";
}

}  // namespace

TEST(Arrangement, ConstructionAndValidation) {
  const vcFlexArrangement empty;
  EXPECT_TRUE(empty.subModels().empty());
  EXPECT_TRUE(empty.subModelIndices().empty());
  EXPECT_EQ(empty.encloseRect(), vcRect());

  const std::vector<vcFlexSubModel> subs = {vcFlexSubModel("a"), vcFlexSubModel("b")};
  const vcFlexArrangement one(subs);
  EXPECT_EQ(one.subModelIndices(), (std::vector<long>{0, 1}));
  EXPECT_EQ(one.positions()[1]->mapPoint({3, 4}), vcVector<2>(3, 4));

  EXPECT_EQ(
      messageOf<vcFlexModelDefs::BadParams>([&] { vcFlexArrangement a(subs, {shift(1, 1)}); }),
      "Number of sub-models must match the number of positions");
  EXPECT_EQ(messageOf<vcFlexModelDefs::BadParams>([&] {
              vcFlexArrangement a(subs, {0, 1, 1}, {shift(1, 1)});
            }),
            "Number of sub-model indices must match the number of positions");
  EXPECT_EQ(messageOf<vcFlexModelDefs::BadIndex>([&] {
              vcFlexArrangement a(subs, {0, 2}, {shift(1, 1), shift(2, 2)});
            }),
            "");
  EXPECT_THROW(vcFlexArrangement(subs, {-1, 0}, {shift(1, 1), shift(2, 2)}),
               vcFlexModelDefs::BadIndex);

  // Positions are cloned; the same index may repeat.
  const Xf p = shift(5, 6);
  const vcFlexArrangement rep(subs, {1, 1, 1}, {p, p, shift(0, 0)});
  EXPECT_EQ(rep.subModelIndices(), (std::vector<long>{1, 1, 1}));
  EXPECT_NE(rep.positions()[0].ptr(), p.ptr());
  EXPECT_EQ(rep.positions()[1]->mapPoint({0, 0}), vcVector<2>(5, 6));
}

TEST(Arrangement, AddRemovePurge) {
  vcFlexArrangement a({vcFlexSubModel("a"), vcFlexSubModel("b"), vcFlexSubModel("c")}, {0, 2, 2},
                      {shift(0, 0), shift(1, 0), shift(2, 0)});
  // Purging keeps a and c and rewrites index 2 to 1.
  a.purgeSubModels();
  EXPECT_EQ(names(a), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(a.subModelIndices(), (std::vector<long>{0, 1, 1}));
  EXPECT_EQ(a.positions()[2]->mapPoint({0, 0}), vcVector<2>(2, 0));

  // Unplaced additions, then placements of them by index.
  a.addSubModel(vcFlexSubModel("d"), {});
  a.addSubModel(vcFlexSubModel("e"), {shift(7, 7), shift(8, 8)});
  EXPECT_EQ(names(a), (std::vector<std::string>{"a", "c", "d", "e"}));
  EXPECT_EQ(a.subModelIndices(), (std::vector<long>{0, 1, 1, 3, 3}));
  EXPECT_EQ(a.positions().size(), 5u);

  const vcFlexArrangement before = a;
  EXPECT_EQ(messageOf<vcFlexModelDefs::BadParams>([&] { a.addSubModel(2, {}); }),
            "No positions specified");
  EXPECT_THROW(a.addSubModel(4, {shift(1, 1)}), vcFlexModelDefs::BadIndex);
  EXPECT_THROW(a.addSubModel(-1, {shift(1, 1)}), vcFlexModelDefs::BadIndex);
  EXPECT_THROW(a.removeSubModel(5), vcFlexModelDefs::BadIndex);
  EXPECT_THROW(a.removeSubModel(-1), vcFlexModelDefs::BadIndex);
  EXPECT_TRUE(a == before);

  a.addSubModel(2, {shift(9, 9)});
  EXPECT_EQ(a.subModelIndices().back(), 2);
  // Purge with d placed and a, c, e unplaced except via later entries.
  a.removeSubModel(0);  // a no longer placed
  EXPECT_EQ(a.subModelIndices(), (std::vector<long>{1, 1, 3, 3, 2}));
  EXPECT_EQ(a.positions()[0]->mapPoint({0, 0}), vcVector<2>(1, 0));
  a.purgeSubModels();
  EXPECT_EQ(names(a), (std::vector<std::string>{"c", "d", "e"}));
  EXPECT_EQ(a.subModelIndices(), (std::vector<long>{0, 0, 2, 2, 1}));

  // Removing the only placement leaves the sub-model until a purge.
  vcFlexArrangement single({vcFlexSubModel("x")});
  single.removeSubModel(0);
  EXPECT_EQ(single.subModels().size(), 1u);
  EXPECT_TRUE(single.positions().empty());
  single.purgeSubModels();
  EXPECT_TRUE(single.subModels().empty());
}

TEST(Arrangement, OriginAndCopies) {
  vcFlexArrangement a({imageModel(8, 8, "a")});
  EXPECT_THROW(a.origin(vc2XformPoly({{0, 0}, {1, 0}, {0, 1}, {1, 1}, {2, 0}, {0, 2}},
                                     {{0, 0}, {1, 0}, {0, 1}, {1, 1.5}, {2.2, 0}, {0, 2}}, 2)),
               vcFlexModelDefs::NotImplemented);
  EXPECT_EQ(a.origin()->mapPoint({1, 1}), vcVector<2>(1, 1));
  a.origin(*shift(3, 0));
  EXPECT_EQ(a.origin()->mapPoint({1, 1}), vcVector<2>(4, 1));

  const vcFlexArrangement copy = a;
  EXPECT_TRUE(copy == a);
  EXPECT_EQ(copy.positions()[0].ptr(), a.positions()[0].ptr());
  EXPECT_EQ(copy.origin().ptr(), a.origin().ptr());
  EXPECT_FALSE(copy.subModels()[0].image().sharesPixelsWith(a.subModels()[0].image()));

  vcFlexArrangement moved = a;
  moved.origin(*shift(3, 1e-9));
  EXPECT_FALSE(moved == a);
  vcFlexArrangement renamed({imageModel(8, 8, "b")});
  renamed.origin(*shift(3, 0));
  EXPECT_FALSE(renamed == a);
}

TEST(Arrangement, Measures) {
  // Sub-models: 10x10 (area 100) and 20x10 (area 200); placements 0 and 2 of the first.
  vcFlexSubModel small = imageModel(10, 10, "small");
  vcFlexSubModel wide = imageModel(20, 10, "wide");
  const vcFlexArrangement a({small, wide}, {0, 1, 0}, {shift(0, 0), shift(30, 0), shift(0, 40)});
  EXPECT_EQ(a.encloseRect(), vcRect(0, 0, 50, 50));
  EXPECT_EQ(vcFlexArrangementHelper::centerPt(a), vcVector<2>(25, 25));

  EXPECT_DOUBLE_EQ(vcFlexArrangementHelper::subModelFraction(a, 0), 0.25);
  EXPECT_DOUBLE_EQ(vcFlexArrangementHelper::subModelFraction(a, 1), 0.5);
  EXPECT_DOUBLE_EQ(vcFlexArrangementHelper::subModelFraction(a, 2), 0.25);
  EXPECT_THROW(vcFlexArrangementHelper::subModelFraction(a, 3), vcFlexModelDefs::BadIndex);

  // Centres (5, 5), (40, 5), (5, 45).
  const vc2XformLinear id;
  EXPECT_DOUBLE_EQ(vcFlexArrangementHelper::distance(a, 0, 1, id), 35.0);
  EXPECT_DOUBLE_EQ(vcFlexArrangementHelper::distance(a, 1, 2, id), vcVector<2>(35, 40).len());
  EXPECT_DOUBLE_EQ(vcFlexArrangementHelper::distance(a, 2, 1, id),
                   vcFlexArrangementHelper::distance(a, 1, 2, id));
  EXPECT_EQ(vcFlexArrangementHelper::distance(a, 2, 2, id), 0.0);
  EXPECT_DOUBLE_EQ(vcFlexArrangementHelper::distance(a, 0, 1, *scaled(2, 7, 7)), 70.0);
  EXPECT_DOUBLE_EQ(vcFlexArrangementHelper::distance(a, 0, {5, 15}, id), 10.0);
  EXPECT_THROW(vcFlexArrangementHelper::distance(a, 3, 0, id), vcFlexModelDefs::BadIndex);
  EXPECT_THROW(vcFlexArrangementHelper::distance(a, 0, -1, id), vcFlexModelDefs::BadIndex);
  EXPECT_THROW(vcFlexArrangementHelper::distance(a, 3, {0, 0}, id), vcFlexModelDefs::BadIndex);

  // The placement distance is taken relative to the origin; the point distance is not.
  vcFlexArrangement b = a;
  b.origin(*scaled(2, 100, 100));
  EXPECT_DOUBLE_EQ(vcFlexArrangementHelper::distance(b, 0, 1, id), 17.5);
  EXPECT_DOUBLE_EQ(vcFlexArrangementHelper::distance(b, 0, {5, 15}, id), 10.0);
  EXPECT_EQ(vcFlexArrangementHelper::centerPt(b), vcVector<2>(-37.5, -37.5));

  // Placed sub-model origins count: a shifted origin moves the mapped extent the other way.
  small.origin(*shift(5, 5));
  const vcFlexArrangement c({small}, {shift(0, 0)});
  EXPECT_EQ(c.encloseRect(), vcRect(-5, -5, 10, 10));
  EXPECT_DOUBLE_EQ(vcFlexArrangementHelper::distance(c, 0, {0, 0}, id), 0.0);
}

TEST(Arrangement, BlankSubModels) {
  const vcFlexArrangement a({vcFlexSubModel("p"), vcFlexSubModel("q")}, {0, 1, 1},
                            {shift(2, 3), shift(-4, 10), shift(6, -1)});
  for (long i = 0; i < 3; ++i)
    EXPECT_DOUBLE_EQ(vcFlexArrangementHelper::subModelFraction(a, i), 1.0 / 3.0);
  // Blank placements contribute their position's point.
  EXPECT_EQ(a.encloseRect(), vcRect(-4, -1, 10, 11));

  // A blank after an image widens the image's extent to its point.
  const vcFlexArrangement mixed({imageModel(4, 4, "i"), vcFlexSubModel("b")}, {0, 1},
                                {shift(0, 0), shift(10, 20)});
  EXPECT_EQ(mixed.encloseRect(), vcRect(0, 0, 10, 20));
  EXPECT_DOUBLE_EQ(vcFlexArrangementHelper::subModelFraction(mixed, 1), 0.0);
}

TEST(Arrangement, ArchiveRoundTrip) {
  vcFlexSubModel img = imageModel(12, 9, "img");
  img.origin(*shift(1, 2));
  vcFlexArrangement a({img, vcFlexSubModel("blank"), imageModel(5, 5, "unplaced")}, {0, 1, 0},
                      {scaled(1.5, 3, 4), shift(-2, 0), shift(20, 1)});
  a.origin(*scaled(0.5, 7, 8));
  const vcTest::Bytes bytes = vcTest::storeBytes(a);
  vcFlexArrangement loaded({vcFlexSubModel("old")});
  EXPECT_EQ(vcTest::loadBytes(bytes, loaded), 0u);
  EXPECT_TRUE(loaded == a);
  EXPECT_EQ(names(loaded), names(a));
  EXPECT_EQ(loaded.encloseRect(), a.encloseRect());
  EXPECT_DOUBLE_EQ(vcFlexArrangementHelper::distance(loaded, 0, 2, vc2XformLinear()),
                   vcFlexArrangementHelper::distance(a, 0, 2, vc2XformLinear()));

  vcTest::Bytes wrong = bytes;
  wrong[0] = 2;
  const vcFlexArrangement keep = loaded;
  try {
    vcTest::loadBytes(wrong, loaded);
    ADD_FAILURE() << "version 2 accepted";
  } catch (const vcArchive::UnknownVersion& e) {
    EXPECT_EQ(e.text(), "submod");
    EXPECT_EQ(e.number(), 852);
  }
  EXPECT_TRUE(loaded == keep);

  // Damaged data: a clean failure that leaves the target alone, or a consistent arrangement.
  const vcTest::Bytes small = [] {
    vcFlexArrangement s({vcFlexSubModel("s"), vcFlexSubModel("t")}, {1, 0},
                        {shift(1, 1), shift(2, 2)});
    return vcTest::storeBytes(s);
  }();
  vcTest::forEachDamagedCopy(small, 300, 11, [&](const vcTest::Bytes& b) {
    vcFlexArrangement t({vcFlexSubModel("keep")});
    try {
      vcTest::loadBytes(b, t);
    } catch (const vcException&) {
      EXPECT_EQ(names(t), std::vector<std::string>{"keep"});
      return;
    }
    ASSERT_EQ(t.subModelIndices().size(), t.positions().size());
    for (long i = 0; i < static_cast<long>(t.positions().size()); ++i)
      EXPECT_NO_THROW(vcFlexArrangementHelper::subModelFraction(t, i));
    EXPECT_NO_THROW((void)t.encloseRect());
  });
}
