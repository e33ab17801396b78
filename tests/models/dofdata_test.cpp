#include <gtest/gtest.h>

#include <cmath>

#include "platform/core/vcArchive.h"
#include "vcDofData.h"
#include "vcGeorapidDOF.h"

namespace {

// Stores `t` with version 0 and returns the bytes.
std::vector<std::uint8_t> store(vc_DofData t) {
  vcArchive out;
  t.archive(out, 0);
  return out.bytes();
}

vc_DofData sampleTable() {
  vc_DofData t(4);
  t.setAll(1, 10.0, true, 5.0, 20.0, 2.5, vc_DofData::eAdditive);
  t.setAll(2, 1.0, false, 0.8, 1.2, 1.05, vc_DofData::eMultiplicative);
  t.setAllOffset(8, 2.0, true, -0.5, 0.25, 0.75, vc_DofData::eMultiplicative);
  return t;
}

}  // namespace

TEST(DofData, KeysAndValidity) {
  EXPECT_EQ(vc_DofData::dof2Index(1), 0);
  EXPECT_EQ(vc_DofData::dof2Index(2), 1);
  EXPECT_EQ(vc_DofData::dof2Index(4), 2);
  EXPECT_EQ(vc_DofData::dof2Index(8), 3);
  EXPECT_EQ(vc_DofData::dof2Index(3), 1);  // highest bit decides

  vc_DofData t(4);
  EXPECT_FALSE(t.validDof(16, false));
  EXPECT_TRUE(t.validDof(15, false));
  EXPECT_TRUE(t.validDof(5, false));
  EXPECT_FALSE(t.validDof(5, true));
  EXPECT_TRUE(t.validDof(8, true));
  EXPECT_TRUE(t.validDof(0, true));
  EXPECT_TRUE(t.validDof(0, false));
  EXPECT_FALSE(vc_DofData(0).validDof(1, true));

  // Fresh entries.
  EXPECT_EQ(t.numDofs(), 4u);
  EXPECT_EQ(t.getNominal(4), 0.0);
  EXPECT_FALSE(t.isEnabled(4));
  EXPECT_EQ(t.getMode(4), vc_DofData::eAdditive);
  EXPECT_EQ(t.getEnableFlags(), 0u);
}

TEST(DofData, RangesByMode) {
  vc_DofData t(4);
  t.setAll(2, 1.0, true, 0.8, 1.2, 0.1, vc_DofData::eMultiplicative);
  EXPECT_NEAR(t.getMinOffset(2), -0.2, 1e-12);
  EXPECT_NEAR(t.getMaxOffset(2), 0.2, 1e-12);
  EXPECT_NEAR(t.getMin(2), 0.8, 1e-12);
  EXPECT_NEAR(t.getMax(2), 1.2, 1e-12);
  EXPECT_NEAR(t.getRangeCenter(2), std::sqrt(0.96), 1e-12);
  EXPECT_NEAR(t.getRangeCenterOffset(2), std::sqrt(0.96) - 1.0, 1e-12);

  t.expandRelRange(2, 0.1, 0.1);
  EXPECT_NEAR(t.getMin(2), 0.88, 1e-12);
  EXPECT_NEAR(t.getMax(2), 1.32, 1e-12);

  // Additive: offsets add, range centre is the arithmetic mean.
  t.setAll(1, 10.0, true, 4.0, 20.0, 0.0, vc_DofData::eAdditive);
  EXPECT_EQ(t.getMinOffset(1), -6.0);
  EXPECT_EQ(t.getMaxOffset(1), 10.0);
  EXPECT_EQ(t.getRangeCenter(1), 12.0);
  EXPECT_EQ(t.getRangeCenterOffset(1), 2.0);
  t.expandRelRange(1, -1.0, 3.0);
  EXPECT_EQ(t.getMin(1), 3.0);
  EXPECT_EQ(t.getMax(1), 23.0);

  // setRange converts against the current nominal and mode; a new nominal moves both ends.
  t.setNominal(1, 0.0);
  t.setRange(1, -2.0, 5.0);
  EXPECT_EQ(t.getMinOffset(1), -2.0);
  EXPECT_EQ(t.getMaxOffset(1), 5.0);
  t.setNominal(4, 2.0);
  t.setAllOffset(4, 2.0, true, 0.0, 0.0, 0.0, vc_DofData::eMultiplicative);
  t.setRange(4, 1.0, 3.0);
  EXPECT_DOUBLE_EQ(t.getMinOffset(4), -0.5);
  EXPECT_DOUBLE_EQ(t.getMaxOffset(4), 0.5);

  // setAll with an unknown mode keeps the previous offsets.
  t.setAll(4, 7.0, false, 100.0, 200.0, 0.5, static_cast<vc_DofData::Mode>(9));
  EXPECT_DOUBLE_EQ(t.getMinOffset(4), -0.5);
  EXPECT_EQ(t.getNominal(4), 7.0);
  EXPECT_EQ(t.getRangeCenter(4), 0.0);
  t.expandRelRange(4, 1.0, 1.0);
  EXPECT_DOUBLE_EQ(t.getMaxOffset(4), 0.5);
}

TEST(DofData, EnableFlagsAndEquality) {
  vc_DofData t(3);
  t.setEnableFlags(0xFF);  // bits beyond the table are ignored
  EXPECT_EQ(t.getEnableFlags(), 7u);
  t.setEnableFlags(5);
  EXPECT_TRUE(t.isEnabled(1));
  EXPECT_FALSE(t.isEnabled(2));
  EXPECT_TRUE(t.isEnabled(4));
  EXPECT_EQ(t.getEnableFlags(), 5u);

  EXPECT_TRUE(vc_DofData(0) == vc_DofData(0));
  EXPECT_FALSE(vc_DofData(2) == vc_DofData(3));
  vc_DofData a = sampleTable(), b = sampleTable();
  EXPECT_TRUE(a == b);
  b.setOverlap(8, 0.7500001);
  EXPECT_FALSE(a == b);
  b = a;
  b.setAllOffset(2, 1.0, false, -0.2, 0.2, 1.05, vc_DofData::eAdditive);
  EXPECT_FALSE(a == b);  // only the mode differs from a's offsets form
}

TEST(DofData, ArchiveRoundTrip) {
  const vc_DofData a = sampleTable();
  vc_DofData loaded(1);  // another size: loading resizes
  loaded.setAll(1, 99.0, true, 1.0, 2.0, 3.0, vc_DofData::eAdditive);
  vcArchive in(store(a));
  loaded.archive(in, 0);
  EXPECT_TRUE(loaded == a);
  EXPECT_EQ(in.remaining(), 0u);

  vc_DofData empty(5);
  vcArchive in2(store(vc_DofData(0)));
  empty.archive(in2, 0);
  EXPECT_EQ(empty.numDofs(), 0u);
}

TEST(DofData, ArchiveRejectsVersions) {
  // A table stored with version 1 cannot be read back, and the reader is left unchanged.
  vc_DofData t = sampleTable();
  vcArchive out;
  EXPECT_THROW(t.archive(out, 1), vcArchive::UnknownVersion);

  vcArchive bad;
  long v = 3;
  bad || v;
  unsigned long n = 0;
  bad || n;
  vc_DofData reader = sampleTable();
  vcArchive in(bad.bytes());
  try {
    reader.archive(in, 0);
    FAIL() << "version 3 accepted";
  } catch (const vcArchive::UnknownVersion& e) {
    EXPECT_EQ(e.text(), "dofdata");
    EXPECT_EQ(e.number(), 297);
  }
  EXPECT_TRUE(reader == sampleTable());

  // Truncated data fails without touching the table.
  std::vector<std::uint8_t> bytes = store(sampleTable());
  bytes.resize(bytes.size() - 3);
  vc_DofData r2(2);
  vcArchive in3(bytes);
  EXPECT_ANY_THROW(r2.archive(in3, 0));
  EXPECT_TRUE(r2 == vc_DofData(2));
}

TEST(DofData, SetupEngineList) {
  // Table keys: 1 angle, 2 scale. The list runs highest key first.
  vc_DofData t(2);
  t.setAll(1, 5.0, true, -10.0, 30.0, 2.0, vc_DofData::eAdditive);
  t.setAll(2, 1.1, false, 0.9, 1.3, 1.5, vc_DofData::eMultiplicative);
  vcGeorapidDOFList list;
  list.assign(new vcGeorapidScale(new vcGeorapidAngle(nullptr, 1), 1));
  t.setup(list);
  vxGeorapidDOF* scale = list.at(0);
  vxGeorapidDOF* angle = list.at(1);
  ASSERT_EQ(scale->kind(), vxGeorapidDOF::eScale);
  EXPECT_EQ(scale->low(), 1.1);  // disabled: pinned at the nominal
  EXPECT_EQ(scale->high(), 1.1);
  EXPECT_EQ(scale->overlap(), 1.5f);
  EXPECT_EQ(angle->low(), -10.0);
  EXPECT_EQ(angle->high(), 30.0);
  EXPECT_EQ(angle->overlap(), 2.0f);

  t.setEnableFlags(3);
  t.setup(list);
  EXPECT_NEAR(scale->low(), 0.9, 1e-12);
  EXPECT_NEAR(scale->high(), 1.3, 1e-12);

  vcGeorapidDOFList none;
  t.setup(none);
  EXPECT_TRUE(none.empty());
}
