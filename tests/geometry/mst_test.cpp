#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "platform/core/vcArchive.h"
#include "vcFlexGeometry.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<double> euclidean(const std::vector<vcVector<2>>& pts) {
  std::vector<double> d;
  for (const auto& a : pts)
    for (const auto& b : pts) d.push_back(a.distance(b));
  return d;
}

std::vector<int> orders(const MST& t) {
  std::vector<int> r;
  for (int k = 0; k < t.size(); ++k) r.push_back(t.order(k));
  return r;
}

std::vector<int> parents(const MST& t) {
  std::vector<int> r;
  for (int v = 0; v < t.size(); ++v) r.push_back(t.parent(v));
  return r;
}

using V = std::vector<int>;

TEST(MstCompute, MatrixSizeIsTruncatedSquareRoot) {
  MST t;
  std::vector<double> empty;
  t.compute(empty, 1);
  EXPECT_EQ(t.size(), 0);

  // Ten entries describe three vertices; the tenth entry must never be read as a distance.
  // Vertex 2 is nearer vertex 1 (entry 2*3+1) than vertex 0.
  std::vector<double> d = {0, 5, 9, 5, 0, 1, 9, 1, 0, -100};
  t.compute(d, 1);
  ASSERT_EQ(t.size(), 3);
  EXPECT_EQ(orders(t), (V{0, 1, 2}));
  EXPECT_EQ(parents(t), (V{0, 0, 1}));
}

TEST(MstCompute, GrowsNearestFirstFromOneRoot) {
  // Points along a bent chain: Prim must follow the chain, not the vertex numbers.
  MST t;
  std::vector<double> d = euclidean({{0, 0}, {10, 0}, {3, 0}, {3, 4}, {30, 0}});
  t.compute(d, 1);
  EXPECT_EQ(orders(t), (V{0, 2, 3, 1, 4}));
  // 1 is at distance 7 from 2 and 10 from 0 and about 8.06 from 3; 4 hangs off 1.
  EXPECT_EQ(parents(t), (V{0, 2, 0, 2, 1}));
}

TEST(MstCompute, RootsAndTies) {
  MST t;
  // Two roots: their order entries and parents are 0, vertex 2 takes the closer root.
  std::vector<double> d = {0, 4, 3, 4, 0, 1, 3, 1, 0};
  t.compute(d, 2);
  EXPECT_EQ(orders(t), (V{0, 0, 2}));
  EXPECT_EQ(parents(t), (V{0, 0, 1}));

  // Equal distance to both roots: root 0 wins.
  d = {0, 4, 2, 4, 0, 2, 2, 2, 0};
  t.compute(d, 2);
  EXPECT_EQ(parents(t), (V{0, 0, 0}));

  // Two outside vertices at the same distance from the root: the lower number joins first.
  d = euclidean({{0, 0}, {0, 5}, {5, 0}, {-5, 0}});
  t.compute(d, 1);
  EXPECT_EQ(orders(t), (V{0, 1, 2, 3}));
  EXPECT_EQ(parents(t), (V{0, 0, 0, 0}));

  // No roots: vertex 0 becomes the root.
  d = euclidean({{0, 0}, {9, 0}, {1, 0}});
  t.compute(d, 0);
  EXPECT_EQ(orders(t), (V{0, 2, 1}));
  EXPECT_EQ(parents(t), (V{0, 2, 0}));

  // More roots than vertices: all are roots, nothing is written out of range.
  t.compute(d, 7);
  EXPECT_EQ(orders(t), (V{0, 0, 0}));
  EXPECT_EQ(parents(t), (V{0, 0, 0}));
}

TEST(MstCompute, InfiniteEdgesJoinLastInVertexOrder) {
  // Vertices 1 and 3 are unreachable; 2 and 4 are reachable with finite distances.
  const int n = 5;
  std::vector<double> d(n * n, kInf);
  auto set = [&](int a, int b, double v) { d[a * n + b] = d[b * n + a] = v; };
  for (int v = 0; v < n; ++v) d[v * n + v] = 0;
  set(0, 4, 8);
  set(4, 2, 3);
  MST t;
  t.compute(d, 1);
  EXPECT_EQ(orders(t), (V{0, 4, 2, 1, 3}));
  // The first infinite edge met in the scan is taken: the lowest tree vertex.
  EXPECT_EQ(parents(t), (V{0, 0, 4, 0, 0}));
}

TEST(MstCompute, ReadsOnlyOutsideToInsideEntries) {
  // Entry (a, b) with a outside the tree is the one read. Making (0, 2) tiny must not matter
  // because 0 is the root; (2, 1) being tiny pulls 2 in through 1.
  std::vector<double> d = {0, 5, 0.1, 5, 0, 9, 9, 0.5, 0};
  MST t;
  t.compute(d, 1);
  EXPECT_EQ(orders(t), (V{0, 1, 2}));
  EXPECT_EQ(parents(t), (V{0, 0, 1}));
}

TEST(MstValue, CopyEraseAndArchiveThroughBasePointer) {
  MST t;
  std::vector<double> d = euclidean({{0, 0}, {10, 0}, {3, 0}, {3, 4}});
  t.compute(d, 1);

  MST copy(t);
  t.erase();
  EXPECT_EQ(t.size(), 0);
  EXPECT_EQ(orders(copy), (V{0, 2, 3, 1}));

  vcArchive out;
  vcPersistent* p = &copy;
  serializePointer(out, nullptr, p);
  vcArchive in(out.bytes());
  vcPersistent* q = nullptr;
  serializePointer(in, nullptr, q);
  MST* back = dynamic_cast<MST*>(q);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(orders(*back), orders(copy));
  EXPECT_EQ(parents(*back), parents(copy));
  delete q;

  // Any version byte is accepted; a size larger than the data is rejected.
  std::vector<std::uint8_t> bytes = {7, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0};
  vcArchive odd(bytes);
  MST r;
  odd || r;
  EXPECT_EQ(r.size(), 1);
  EXPECT_EQ(r.order(0), 2);
  std::vector<std::uint8_t> bad = {0, 50, 0, 0, 0, 1, 0, 0, 0};
  vcArchive badAr(bad);
  EXPECT_THROW(badAr || r, vcArchive::BadData);
  EXPECT_EQ(r.size(), 1);
}

}  // namespace
