#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "platform/core/vcArchive.h"
#include "vcFlexGeometry.h"

namespace {

using V = std::vector<int>;

std::vector<double> euclidean(const std::vector<vcVector<2>>& pts) {
  std::vector<double> d;
  for (const auto& a : pts)
    for (const auto& b : pts) d.push_back(a.distance(b));
  return d;
}

// (join order, parents) of a computed tree.
std::pair<V, V> tree(const MST& t) {
  std::pair<V, V> r;
  for (int k = 0; k < t.size(); ++k) r.first.push_back(t.order(k));
  for (int v = 0; v < t.size(); ++v) r.second.push_back(t.parent(v));
  return r;
}

std::pair<V, V> computed(std::vector<double> d, int roots) {
  MST t;
  t.compute(d, roots);
  return tree(t);
}

TEST(MstCompute, GrowsNearestFirst) {
  EXPECT_EQ(computed({}, 1), (std::pair<V, V>{}));
  // Ten entries are three vertices; the tenth must not be read.
  EXPECT_EQ(computed({0, 5, 9, 5, 0, 1, 9, 1, 0, -100}, 1),
            (std::pair<V, V>{{0, 1, 2}, {0, 0, 1}}));
  // A bent chain: Prim follows the chain, not the vertex numbers.
  EXPECT_EQ(computed(euclidean({{0, 0}, {10, 0}, {3, 0}, {3, 4}, {30, 0}}), 1),
            (std::pair<V, V>{{0, 2, 3, 1, 4}, {0, 2, 0, 2, 1}}));
  // Only entry (outside a, inside b) is read: a tiny (0, 2) must not pull 2 in first.
  EXPECT_EQ(computed({0, 5, 0.1, 5, 0, 9, 9, 0.5, 0}, 1), (std::pair<V, V>{{0, 1, 2}, {0, 0, 1}}));
}

TEST(MstCompute, RootsAndTies) {
  // Two roots report order 0 and parent 0; vertex 2 takes the closer root, root 0 on a tie.
  EXPECT_EQ(computed({0, 4, 3, 4, 0, 1, 3, 1, 0}, 2), (std::pair<V, V>{{0, 0, 2}, {0, 0, 1}}));
  EXPECT_EQ(computed({0, 4, 2, 4, 0, 2, 2, 2, 0}, 2).second, (V{0, 0, 0}));
  // Outside vertices at equal distance join in ascending order.
  EXPECT_EQ(computed(euclidean({{0, 0}, {0, 5}, {5, 0}, {-5, 0}}), 1),
            (std::pair<V, V>{{0, 1, 2, 3}, {0, 0, 0, 0}}));
  // No roots: vertex 0 is the root. More roots than vertices: all are roots.
  const std::vector<double> d = euclidean({{0, 0}, {9, 0}, {1, 0}});
  EXPECT_EQ(computed(d, 0), (std::pair<V, V>{{0, 2, 1}, {0, 2, 0}}));
  EXPECT_EQ(computed(d, 7), (std::pair<V, V>{{0, 0, 0}, {0, 0, 0}}));
}

TEST(MstCompute, InfiniteEdgesJoinLastInVertexOrder) {
  // 1 and 3 are unreachable; they join last, each through the first tree vertex scanned.
  const int n = 5;
  std::vector<double> d(n * n, std::numeric_limits<double>::infinity());
  for (int v = 0; v < n; ++v) d[v * n + v] = 0;
  d[0 * n + 4] = d[4 * n + 0] = 8;
  d[4 * n + 2] = d[2 * n + 4] = 3;
  EXPECT_EQ(computed(d, 1), (std::pair<V, V>{{0, 4, 2, 1, 3}, {0, 0, 4, 0, 0}}));
}

TEST(MstValue, CopyEraseAndArchive) {
  MST t;
  std::vector<double> d = euclidean({{0, 0}, {10, 0}, {3, 0}, {3, 4}});
  t.compute(d, 1);
  MST copy(t);
  t.erase();
  EXPECT_EQ(t.size(), 0);

  // Through the registered factory.
  vcArchive out;
  vcPersistent* p = &copy;
  serializePointer(out, nullptr, p);
  vcArchive in(out.bytes());
  vcPersistent* q = nullptr;
  serializePointer(in, nullptr, q);
  const MST* back = dynamic_cast<MST*>(q);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(tree(*back), (std::pair<V, V>{{0, 2, 3, 1}, {0, 2, 0, 2}}));
  delete q;

  // Any version byte loads; a size beyond the data is rejected and changes nothing.
  vcArchive odd(std::vector<std::uint8_t>{7, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0});
  MST r;
  odd || r;
  EXPECT_EQ(tree(r), (std::pair<V, V>{{2}, {0}}));
  vcArchive bad(std::vector<std::uint8_t>{0, 50, 0, 0, 0, 1, 0, 0, 0});
  EXPECT_THROW(bad || r, vcArchive::BadData);
  EXPECT_EQ(r.size(), 1);
}

}  // namespace

namespace {

// The form over points builds the tree of the matrix form, ties and roots alike, without the
// matrix.
TEST(MST, PointFormMatchesTheMatrixForm) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> coord(0, 6);  // a coarse grid makes many equal distances
  for (int trial = 0; trial < 40; ++trial) {
    std::vector<vcVector<2>> pts;
    const int n = 1 + trial % 13;
    for (int i = 0; i < n; ++i) pts.emplace_back(coord(rng), coord(rng));
    for (int roots : {0, 1, 3}) {
      MST fromMatrix, fromPoints;
      std::vector<double> d = euclidean(pts);
      fromMatrix.compute(d, roots);
      fromPoints.compute(pts, roots);
      EXPECT_EQ(tree(fromPoints), tree(fromMatrix)) << "trial " << trial << " roots " << roots;
    }
  }
  MST none;
  none.compute(std::vector<vcVector<2>>{}, 2);
  EXPECT_EQ(none.size(), 0);
}

}  // namespace
