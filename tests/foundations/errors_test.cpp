#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

#include "platform/core/vcArchive.h"
#include "vcFlexAlign.h"  // the umbrella must bring the families in

namespace {

struct Row {
  std::function<vcPersistent*()> make;
  long number;
  const char* name;
  const char* base;
};

// The fixed numbers and names every caller and archive relies on.
const std::vector<Row>& table() {
  static const std::vector<Row> rows = {
      {&vcFlexModelDefs::BadParams::make, 0x10005D01, "vcFlexModelDefs::BadParams",
       "vcFlexModelDefs::Errors"},
      {&vcFlexModelDefs::WrongModelType::make, 0x10005D02, "vcFlexModelDefs::WrongModelType",
       "vcFlexModelDefs::Errors"},
      {&vcFlexModelDefs::InternalError::make, 0x10005D03, "vcFlexModelDefs::InternalError",
       "vcFlexModelDefs::Errors"},
      {&vcFlexModelDefs::NotImplemented::make, 0x10005D04, "vcFlexModelDefs::NotImplemented",
       "vcFlexModelDefs::Errors"},
      {&vcFlexModelDefs::BadIndex::make, 0x10005D05, "vcFlexModelDefs::BadIndex",
       "vcFlexModelDefs::Errors"},
      {&vcFlexAlignDefs::BadParams::make, 0x10005D06, "vcFlexAlignDefs::BadParams",
       "vcFlexAlignDefs::Errors"},
      {&vcFlexAlignDefs::CanNotTrain::make, 0x10005D07, "vcFlexAlignDefs::CanNotTrain",
       "vcFlexAlignDefs::Errors"},
      {&vcFlexAlignDefs::NotTrained::make, 0x10005D08, "vcFlexAlignDefs::NotTrained",
       "vcFlexAlignDefs::Errors"},
      {&vcFlexAlignDefs::BadImage::make, 0x10005D09, "vcFlexAlignDefs::BadImage",
       "vcFlexAlignDefs::Errors"},
      {&vcFlexAlignDefs::BadIndex::make, 0x10005D0A, "vcFlexAlignDefs::BadIndex",
       "vcFlexAlignDefs::Errors"},
      {&vcFlexAlignDefs::WrongDOFMode::make, 0x10005D0B, "vcFlexAlignDefs::WrongDOFMode",
       "vcFlexAlignDefs::Errors"},
      {&vcFlexAlignDefs::NotImplemented::make, 0x10005D0C, "vcFlexAlignDefs::NotImplemented",
       "vcFlexAlignDefs::Errors"},
      {&vcFlexAlignDefs::InternalError::make, 0x10005D0D, "vcFlexAlignDefs::InternalError",
       "vcFlexAlignDefs::Errors"},
      {&vcFlexAlignDefs::CanNotRun::make, 0x10005D0E, "vcFlexAlignDefs::CanNotRun",
       "vcFlexAlignDefs::Errors"},
      {&vcFlexAlignDefs::CanNotFit::make, 0x10005D0F, "vcFlexAlignDefs::CanNotFit",
       "vcFlexAlignDefs::Errors"},
      {&vcFlexAlignDefs::DistortionRateTooLarge::make, 0x10005D10,
       "vcFlexAlignDefs::DistortionRateTooLarge", "vcFlexAlignDefs::Errors"},
      {&vcFlexAlignDefs::BadArrangement::make, 0x10005D11, "vcFlexAlignDefs::BadArrangement",
       "vcFlexAlignDefs::Errors"},
      {&vcFlexAlignDefs::NotComputed::make, 0x10005D12, "vcFlexAlignDefs::NotComputed",
       "vcFlexAlignDefs::Errors"},
      {&vc_SubModelToolDefs::BadImage::make, 0x10005D21, "vc_SubModelToolDefs::BadImage",
       "vc_SubModelToolDefs::Errors"},
      {&vc_SubModelToolDefs::InternalError::make, 0x10005D22, "vc_SubModelToolDefs::InternalError",
       "vc_SubModelToolDefs::Errors"},
      {&vc_SubModelToolDefs::CanNotTrain::make, 0x10005D23, "vc_SubModelToolDefs::CanNotTrain",
       "vc_SubModelToolDefs::Errors"},
      {&vc_SubModelToolDefs::CanNotRun::make, 0x10005D24, "vc_SubModelToolDefs::CanNotRun",
       "vc_SubModelToolDefs::Errors"},
      {&vc_SubModelToolDefs::NotTrained::make, 0x10005D25, "vc_SubModelToolDefs::NotTrained",
       "vc_SubModelToolDefs::Errors"},
      {&vc_SubModelToolDefs::NotImplemented::make, 0x10005D26,
       "vc_SubModelToolDefs::NotImplemented", "vc_SubModelToolDefs::Errors"},
  };
  return rows;
}

// Error number through whichever family base the object has.
long numberOf(vcPersistent* p) {
  if (auto* a = dynamic_cast<vcFlexAlignDefs::Errors*>(p)) return a->errorNumber();
  if (auto* m = dynamic_cast<vcFlexModelDefs::Errors*>(p)) return m->errorNumber();
  if (auto* s = dynamic_cast<vc_SubModelToolDefs::Errors*>(p)) return s->errorNumber();
  return -1;
}

std::string expectUnknownVersion(vcPersistent& target, const std::vector<std::uint8_t>& bytes) {
  vcArchive in(bytes);
  try {
    in || target;
  } catch (const vcArchive::UnknownVersion& e) {
    EXPECT_EQ(e.number(), 0);
    return e.text();
  }
  ADD_FAILURE() << "a wrong version byte was accepted";
  return {};
}

TEST(ErrorFamilies, NumbersFactoriesAndRegistration) {
  for (const Row& r : table()) {
    SCOPED_TRACE(r.name);
    vcPersistent* p = r.make();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(numberOf(p), r.number);
    auto* e = dynamic_cast<vcExceptionWithString*>(p);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->message(false), "");
    // The archive can recreate the class by its fixed name.
    const char* name = vfPersistentName(typeid(*p));
    ASSERT_NE(name, nullptr);
    vcPersistentFactory f = vfFindPersistentFactory(name);
    ASSERT_NE(f, nullptr);
    vcPersistent* q = f();
    EXPECT_EQ(typeid(*q), typeid(*p));
    delete q;
    delete p;
  }
}

TEST(ErrorFamilies, VersionBytesNameTheLevelThatRejectsThem) {
  for (const Row& r : table()) {
    SCOPED_TRACE(r.name);
    vcPersistent* p = r.make();
    vcArchive out;
    out || *p;
    std::vector<std::uint8_t> bytes = out.bytes();
    // Own version, family version, then the message layout of the string exception.
    ASSERT_GE(bytes.size(), 3u);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 0);
    bytes[0] = 1;
    EXPECT_EQ(expectUnknownVersion(*p, bytes), r.name);
    bytes[0] = 0;
    bytes[1] = 1;
    EXPECT_EQ(expectUnknownVersion(*p, bytes), r.base);
    delete p;
  }
}

TEST(ErrorFamilies, MessageRoundTripThroughPolymorphicPointer) {
  vcFlexModelDefs::BadIndex original("x");
  vcArchive out;
  vcPersistent* p = &original;
  serializePointer(out, nullptr, p);
  vcArchive in(out.bytes());
  vcPersistent* q = nullptr;
  serializePointer(in, nullptr, q);
  auto* back = dynamic_cast<vcFlexModelDefs::BadIndex*>(q);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->message(false), "x");
  EXPECT_EQ(back->errorNumber(), 0x10005D05);
  EXPECT_EQ(in.remaining(), 0u);
  delete q;

  // Loading over an existing object replaces its message.
  vcFlexAlignDefs::CanNotRun a("first"), b("second");
  vcArchive o2;
  o2 || a;
  vcArchive i2(o2.bytes());
  i2 || b;
  EXPECT_EQ(b.message(false), "first");
}

TEST(ErrorFamilies, SuicideAndRethrowKeepsTypeAndMessage) {
  vcFlexAlignDefs::Errors* e = new vcFlexAlignDefs::CanNotFit("no fit");
  try {
    e->suicideAndRethrow();
  } catch (const vcFlexAlignDefs::CanNotFit& c) {
    EXPECT_EQ(c.message(false), "no fit");
    EXPECT_EQ(c.errorNumber(), 0x10005D0F);
  }
  // The same throw is also caught through the family base and the root.
  vcFlexModelDefs::Errors* m = new vcFlexModelDefs::WrongModelType("kind");
  EXPECT_THROW(m->suicideAndRethrow(), vcFlexModelDefs::Errors);
  vc_SubModelToolDefs::Errors* s = new vc_SubModelToolDefs::NotTrained;
  EXPECT_THROW(s->suicideAndRethrow(), vcException);
  // Leaks or double frees of the heap objects show up under the sanitizer build.
}

TEST(ErrorFamilies, CopiesAndWhatCarryTheMessage) {
  const vcFlexAlignDefs::BadParams a("Unknown DOF");
  const vcFlexAlignDefs::BadParams b(a);
  EXPECT_EQ(b.message(false), "Unknown DOF");
  EXPECT_STREQ(b.what(), "Unknown DOF");
  vcFlexAlignDefs::BadImage c("one");
  vcFlexAlignDefs::Errors& base = c;
  base = vcFlexAlignDefs::BadImage("two");
  EXPECT_EQ(c.message(false), "two");
  EXPECT_NE(vcFlexAlignDefs::BadParams().errorNumber(), vcFlexModelDefs::BadParams().errorNumber());
}

}  // namespace
