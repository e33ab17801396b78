#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/core/vcArchive.h"
#include "vcFlexGeometry.h"

MST::MST() = default;
MST::MST(const MST& other)
    : vcPersistent(other), order_(other.order_), parent_(other.parent_), size_(other.size_) {}

MST& MST::operator=(const MST& other) {
  if (this != &other) {
    mutating_();
    order_ = other.order_;
    parent_ = other.parent_;
    size_ = other.size_;
  }
  return *this;
}

MST::~MST() = default;

vcPersistent* MST::make() { return new MST; }

void MST::erase() {
  mutating_();
  size_ = 0;
  order_.clear();
  parent_.clear();
}

void MST::compute(std::vector<double>& distances, int numRoots) {
  mutating_();
  // Integer square root, robust against the rounding of std::sqrt for large counts.
  std::size_t n = static_cast<std::size_t>(std::sqrt(static_cast<double>(distances.size())));
  while (n * n > distances.size()) --n;
  while ((n + 1) * (n + 1) <= distances.size()) ++n;

  size_ = static_cast<std::int32_t>(n);
  order_.assign(n, 0);
  parent_.assign(n, -1);
  const std::size_t roots = numRoots > 0 ? std::min<std::size_t>(numRoots, n) : 0;
  for (std::size_t v = 0; v < roots; ++v) {
    parent_[v] = 0;
    order_[v] = 0;
  }

  // Each step scans every (outside a, inside b) edge in row-major order and keeps the first
  // strictly smallest. An infinite edge is therefore taken only when no finite one is left,
  // and with an empty tree (no roots) nothing qualifies, so vertex 0 joins as its own root.
  const double* d = distances.data();
  for (std::size_t k = roots; k < n; ++k) {
    std::size_t bestA = 0, bestB = 0;
    bool found = false;
    double best = 0.0;
    for (std::size_t a = 0; a < n; ++a) {
      if (parent_[a] >= 0) continue;
      const double* row = d + a * n;
      for (std::size_t b = 0; b < n; ++b) {
        if (b == a || parent_[b] < 0) continue;
        if (!found || row[b] < best) {
          best = row[b];
          bestA = a;
          bestB = b;
          found = true;
        }
      }
    }
    parent_[bestA] = static_cast<std::int32_t>(bestB);
    order_[k] = static_cast<std::int32_t>(bestA);
  }
}

void MST::compute(const std::vector<vcVector<2>>& points, int numRoots) {
  mutating_();
  const std::size_t n = points.size();
  size_ = static_cast<std::int32_t>(n);
  order_.assign(n, 0);
  parent_.assign(n, -1);
  if (n == 0) return;
  // With no roots vertex 0 is the root, as in the matrix form.
  const std::size_t roots =
      std::max<std::size_t>(1, numRoots > 0 ? std::min<std::size_t>(numRoots, n) : 0);
  // Prim's algorithm with, for every vertex outside the tree, its distance to the tree and the
  // tree vertex giving it (the lowest on ties): each step takes the outside vertex nearest the
  // tree, the lowest on ties, which is the pair the matrix form's scan keeps.
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> best(n, inf);
  std::vector<std::int32_t> via(n, -1);
  auto join = [&](std::size_t b) {
    for (std::size_t a = 0; a < n; ++a) {
      if (parent_[a] >= 0) continue;
      const double d = (points[a] - points[b]).len();
      if (d < best[a] || (d == best[a] && (via[a] < 0 || static_cast<std::int32_t>(b) < via[a]))) {
        best[a] = d;
        via[a] = static_cast<std::int32_t>(b);
      }
    }
  };
  for (std::size_t v = 0; v < roots; ++v) parent_[v] = 0;
  for (std::size_t v = 0; v < roots; ++v) join(v);
  for (std::size_t k = roots; k < n; ++k) {
    std::size_t a = n;
    for (std::size_t c = 0; c < n; ++c)
      if (parent_[c] < 0 && (a == n || best[c] < best[a])) a = c;
    parent_[a] = via[a] < 0 ? 0 : via[a];
    order_[k] = static_cast<std::int32_t>(a);
    join(a);
  }
}

void MST::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(MST))) return;
  // Every stored version is read with the same layout.
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  ar.setVisited(this, typeid(MST));
}

void MST::serialize_(vcArchive& ar, unsigned char) {
  if (ar.isStoring()) {
    int n = size_;
    ar || n;
    for (int v = 0; v < n; ++v) {
      int o = order_[v], p = parent_[v];
      ar || o || p;
    }
    return;
  }
  int n = 0;
  ar || n;
  // Two 32-bit values per vertex must still be in the archive.
  if (n < 0 || static_cast<std::size_t>(n) > ar.remaining() / 8)
    throw vcArchive::BadData("archive holds an invalid spanning-tree size");
  // Read into locals so that a truncated archive leaves the tree as it was.
  std::vector<std::int32_t> order(n), parent(n);
  for (int v = 0; v < n; ++v) {
    int o = 0, p = 0;
    ar || o || p;
    order[v] = o;
    parent[v] = p;
  }
  mutating_();
  size_ = n;
  order_ = std::move(order);
  parent_ = std::move(parent);
}
