#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcArchive.h"
#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcShapes.h"
#include "support/archive_check.h"
#include "vcFlexErrors.h"

namespace {

using V = vcVector<2>;
using Bytes = std::vector<std::uint8_t>;

TEST(Archive, PrimitiveRoundTrip) {
  bool b = true;
  int i = -123456;
  long l = -9000000000L;
  unsigned long ul = 18000000000000000000UL;
  unsigned int ui = 4000000000u;
  unsigned char uc = 250;
  float f = 1.5f;
  double d = -2.25e-300;
  std::string s("with\0nul", 8);
  V v(3.5, -4.5);
  vcArchive out;
  out || b || i || l || ul || ui || uc || f || d || s || v;
  vcArchive in(out.bytes());
  bool b2 = false;
  int i2 = 0;
  long l2 = 0;
  unsigned long ul2 = 0;
  unsigned int ui2 = 0;
  unsigned char uc2 = 0;
  float f2 = 0;
  double d2 = 0;
  std::string s2;
  V v2;
  in || b2 || i2 || l2 || ul2 || ui2 || uc2 || f2 || d2 || s2 || v2;
  EXPECT_EQ(b2, b);
  EXPECT_EQ(i2, i);
  EXPECT_EQ(l2, l);
  EXPECT_EQ(ul2, ul);
  EXPECT_EQ(ui2, ui);
  EXPECT_EQ(uc2, uc);
  EXPECT_EQ(f2, f);
  EXPECT_EQ(d2, d);
  EXPECT_EQ(s2, s);
  EXPECT_EQ(v2, v);
  EXPECT_EQ(in.remaining(), 0u);
  EXPECT_THROW(in || d2, vcArchive::EndOfData);
  // The layout is little-endian whatever the host, and long travels as 8 bytes.
  vcArchive le;
  int n = 0x01020304;
  long m = 1;
  le || n || m;
  EXPECT_EQ(le.bytes(), (Bytes{4, 3, 2, 1, 1, 0, 0, 0, 0, 0, 0, 0}));
  // A bool byte other than 0 or 1 is damage.
  vcArchive badBool(Bytes{2});
  EXPECT_THROW(badBool || b2, vcArchive::BadData);
}

TEST(Archive, PixelBufferRoundTripKeepsWindowAndClient) {
  vcPelBufferU8 img(9, 7);
  for (long y = 0; y < 7; ++y)
    for (long x = 0; x < 9; ++x) img.set(x, y, static_cast<unsigned char>(x * 16 + y));
  ASSERT_TRUE(img.window(vcPelRect(2, 1, 5, 4)));
  img.clientFromImageXform(vcXform<2>(vcMatrix<2>(2, 0, 0, 2), V(1, 2)));
  vcPelBufferU8 unbound;
  vcArchive out;
  out || img || unbound;
  vcArchive in(out.bytes());
  vcPelBufferU8 back, back2(3, 3);
  in || back || back2;
  EXPECT_EQ(back.window(), img.window());
  EXPECT_TRUE(vfPelEqual(back, img));
  EXPECT_EQ(back.clientFromImageXform(), img.clientFromImageXform());
  EXPECT_FALSE(back2.isBound());
  // A stored size larger than the data is refused before anything is allocated.
  Bytes bytes = out.bytes();
  // Width follows the version byte, the bound flag and two 8-byte longs; make it about 2^55.
  bytes[1 + 1 + 16] = 0xff;
  bytes[1 + 1 + 16 + 6] = 0x7f;
  vcArchive bad(bytes);
  vcPelBufferU8 t;
  EXPECT_THROW(bad || t, vcArchive::BadData);
}

// Everything one archive can hold, for the damage tests below.
Bytes sampleArchive() {
  std::vector<V> from, to;
  for (int i = 0; i < 12; ++i) {
    from.emplace_back(i * 3.0, (i * 7) % 11);
    to.emplace_back(i * 3.1 + 0.01 * i * i, (i * 7) % 11 + 0.5);
  }
  vc2XformPoly poly(to, from, 2);
  vcPtrHandle<vc2XformBase> comp = poly * poly;
  vcPtrHandle<vc2XformBase> inv = poly.inverseBase();
  vcFlexAlignDefs::CanNotFit err("fit failed");
  vcPolygon pg({V(1, 2), V(3, 4), V(5, 0)});
  std::string s = "text";
  vcPelBufferU8 img(4, 3);
  vcArchive out;
  vcPersistent* ptrs[] = {&poly, comp.ptr(), inv.ptr(), &err, &poly, nullptr};
  for (auto*& p : ptrs) serializePointer(out, nullptr, p);
  out || pg || s || img;
  return out.bytes();
}

// Loads everything sampleArchive wrote; only archive errors may escape.
void loadSample(const Bytes& bytes) {
  vcArchive in(bytes);
  vcPersistent* ptrs[6] = {};
  std::vector<vcPersistent*> owned;
  try {
    for (auto*& p : ptrs) {
      serializePointer(in, nullptr, p);
      if (p && std::find(owned.begin(), owned.end(), p) == owned.end()) owned.push_back(p);
    }
    vcPolygon pg;
    std::string s;
    vcPelBufferU8 img;
    in || pg || s || img;
  } catch (...) {
    for (auto* p : owned) vcTest::releaseLoaded(p);
    throw;
  }
  for (auto* p : owned) vcTest::releaseLoaded(p);
}

TEST(Archive, SharedPolymorphicPointersLoadOnce) {
  const Bytes bytes = sampleArchive();
  vcArchive in(bytes);
  vcPersistent* ptrs[6] = {};
  for (auto*& p : ptrs) serializePointer(in, nullptr, p);
  EXPECT_EQ(ptrs[0], ptrs[4]);
  EXPECT_EQ(ptrs[5], nullptr);
  EXPECT_NE(dynamic_cast<vc2XformComposed*>(ptrs[1]), nullptr);
  EXPECT_NE(dynamic_cast<vc2XformPolyInverse*>(ptrs[2]), nullptr);
  auto* e = dynamic_cast<vcFlexAlignDefs::CanNotFit*>(ptrs[3]);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->message(false), "fit failed");
  for (int i = 0; i < 4; ++i) vcTest::releaseLoaded(ptrs[i]);
}

TEST(Archive, DamagedTruncatedAndRandomBytesFailOnlyAsArchiveErrors) {
  const Bytes full = sampleArchive();
  EXPECT_NO_THROW(loadSample(full));
  int visited = 0, failures = 0;
  vcTest::forEachDamagedCopy(full, 3000, 12345, [&](const Bytes& b) {
    ++visited;
    try {
      loadSample(b);
    } catch (const vcArchive::Errors& e) {
      ++failures;
      EXPECT_FALSE(std::string(e.what()).empty());
    } catch (const std::exception& e) {
      ADD_FAILURE() << "case " << visited << " escaped as " << typeid(e).name() << ": " << e.what();
    }
  });
  // Every truncation must fail (the sample ends with pixels, so no prefix is complete); most
  // scattered damage is detected too, rather than silently accepted.
  EXPECT_GT(failures, static_cast<int>(full.size()) + 1000);
}

TEST(Archive, AbsurdCountsCyclesAndNesting) {
  // A string claiming 2^60 bytes.
  vcArchive w;
  std::uint64_t huge = 1ull << 60;
  w.exchangeCount(huge, 1);
  vcArchive r(w.bytes());
  std::string s;
  EXPECT_THROW(r || s, vcArchive::BadData);
  // A composed transform whose first part refers back to itself.
  vcArchive c;
  unsigned char tag = 2, version = 0, seen = 1;
  std::string name = "vc2XformComposed";
  std::uint32_t self = 0;
  c || tag || name || version || seen || self;
  vcArchive cr(c.bytes());
  vc2XformBase* p = nullptr;
  EXPECT_THROW(serializePointer(cr, nullptr, p), vcArchive::BadData);
  // Composition nested far deeper than any real data: refused, not a stack overflow.
  vcArchive d;
  for (int i = 0; i < 100000; ++i) d || tag || name || version;
  vcArchive dr(d.bytes());
  EXPECT_THROW(serializePointer(dr, nullptr, p), vcArchive::BadData);
  // An unknown class name.
  vcArchive u;
  std::string bogus = "NoSuchClass";
  u || tag || bogus;
  vcArchive ur(u.bytes());
  EXPECT_THROW(serializePointer(ur, nullptr, p), vcArchive::UnknownClass);
  // A pointer of the wrong class for its slot.
  vcFlexModelDefs::BadIndex err("x");
  vcArchive wc;
  vcPersistent* ep = &err;
  serializePointer(wc, nullptr, ep);
  vcArchive wr(wc.bytes());
  EXPECT_THROW(serializePointer(wr, nullptr, p), vcArchive::BadData);
}

// Every archivable class has one fixed name and one older name (the mangled type name archives
// held before), each naming it alone; either recreates the class, and writing uses the fixed one.
TEST(Archive, ClassesTravelByFixedNamesAndOlderNamesStillLoad) {
  std::set<std::string> names;
  for (const vcPersistentClass& c : vf_PersistentClasses()) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(names.insert(c.name).second);
    EXPECT_TRUE(names.insert(c.olderName).second);
    EXPECT_STREQ(vfPersistentName(*c.type), c.name);
#ifdef __GXX_ABI_VERSION
    // The older names are those this ABI gives the classes, as the files that hold them had.
    EXPECT_STREQ(c.olderName, c.type->name());
#endif
    for (const char* n : {c.name, c.olderName}) {
      const vcPersistentFactory make = vfFindPersistentFactory(n);
      ASSERT_NE(make, nullptr) << n;
      const std::unique_ptr<vcPersistent> made(make());
      EXPECT_TRUE(typeid(*made) == *c.type) << n;
    }
  }
  EXPECT_EQ(vfRegisteredPersistentNames().size() * 2, names.size());
  EXPECT_EQ(vfPersistentName(typeid(vcPersistent)), nullptr);

  // A transform written now carries its fixed name; the same bytes under the older name load.
  vc2XformBase* out = new vc2XformLinear(vcXform<2>(vcMatrix<2>(2, 0, 0, 3), V(5, -7)));
  const vcPtrHandle_const<vc2XformBase> own(out);
  vcArchive w;
  serializePointer(w, nullptr, out);
  const std::string fixed = "vc2XformLinear", older = "14vc2XformLinear";
  const Bytes now = w.bytes();
  const auto at = std::search(now.begin(), now.end(), fixed.begin(), fixed.end());
  ASSERT_NE(at, now.end());
  EXPECT_EQ(std::search(now.begin(), now.end(), older.begin(), older.end()), now.end());
  Bytes before(now.begin(), at - 8);
  vcArchive lengthAndName;
  std::string name = older;
  lengthAndName || name;
  before.insert(before.end(), lengthAndName.bytes().begin(), lengthAndName.bytes().end());
  before.insert(before.end(), at + static_cast<long>(fixed.size()), now.end());
  for (const Bytes& bytes : {now, before}) {
    vcArchive r(bytes);
    vc2XformBase* in = nullptr;
    serializePointer(r, nullptr, in);
    const vcPtrHandle_const<vc2XformBase> got(in);  // the archive holds it too
    ASSERT_TRUE(dynamic_cast<vc2XformLinear*>(in));
    EXPECT_TRUE(in->mapPoint(V(1, 1)) == out->mapPoint(V(1, 1)));
    EXPECT_EQ(r.remaining(), 0u);
  }
}

TEST(Archive, BackReferencesAreClassCheckedAndOwnedOnce) {
  // A shared transform referred to again from a slot of another class: refused, and the
  // first owner's object is neither freed nor changed.
  vc2XformLinear lin(vcMatrix<2>(2, 1, 0, 0), V(1, 2));
  vcArchive out;
  vc2XformBase* xp = &lin;
  vcPersistent* same = &lin;
  serializePointer(out, nullptr, xp);
  serializePointer(out, nullptr, same);
  {
    vcArchive in(out.bytes());
    vc2XformBase* first = nullptr;
    serializePointer(in, nullptr, first);
    vcPtrHandle<vc2XformBase> owner(first);
    vcException* wrong = nullptr;
    EXPECT_THROW(serializePointer(in, nullptr, wrong), vcArchive::BadData);
    EXPECT_EQ(wrong, nullptr);
    EXPECT_EQ(owner->mapPoint(V(1, 1)), lin.mapPoint(V(1, 1)));
  }
  // The shared object outlives a first owner that dropped it before the back-reference.
  {
    vcArchive in(out.bytes());
    vc2XformBase* first = nullptr;
    serializePointer(in, nullptr, first);
    { vcPtrHandle<vc2XformBase> dropped(first); }
    vcPersistent* again = nullptr;
    serializePointer(in, nullptr, again);
    ASSERT_EQ(again, first);
    EXPECT_EQ(dynamic_cast<vc2XformBase*>(again)->mapPoint(V(1, 1)), lin.mapPoint(V(1, 1)));
  }
  // An object with a single owner written twice would be owned twice on loading: refused.
  vcFlexModelDefs::BadIndex err("x");
  vcArchive two;
  vcPersistent* ep = &err;
  serializePointer(two, nullptr, ep);
  serializePointer(two, nullptr, ep);
  vcArchive in(two.bytes());
  vcPersistent* a = nullptr;
  vcPersistent* b = nullptr;
  serializePointer(in, nullptr, a);
  EXPECT_THROW(serializePointer(in, nullptr, b), vcArchive::BadData);
  EXPECT_EQ(b, nullptr);
  delete a;
}

TEST(Archive, FileArchivesAndIoErrors) {
  const std::string path = ::testing::TempDir() + "/archive_test.bin";
  {
    vcArchive out = vcArchive::openFile(path, vcArchive::eStoring);
    std::string s = "on disk";
    out || s;
    out.close();
  }
  vcArchive in = vcArchive::openFile(path, vcArchive::eLoading);
  std::string s;
  in || s;
  EXPECT_EQ(s, "on disk");
  EXPECT_THROW(vcArchive::openFile(path + ".missing/x", vcArchive::eLoading), vcArchive::IoError);
  EXPECT_THROW(vcArchive::openFile("/nonexistent-dir/x.bin", vcArchive::eStoring),
               vcArchive::IoError);
}

}  // namespace
