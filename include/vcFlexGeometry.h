// Geometric algorithms shared by the alignment tool: the interpolated transform map, the
// minimum spanning tree that orders instances, and the affine image warp.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcHandle.h"
#include "platform/core/vcPersistent.h"
#include "platform/core/vcVector.h"

class vcArchive;
class vc_Instantiator;

// Minimum spanning tree of a complete graph given as a row-major square distance matrix,
// grown by Prim's method from one or more roots. Ties go to the lowest outside vertex, then to
// the lowest tree vertex, so the join order is reproducible.
class MST : public virtual vcPersistent {
 public:
  MST();
  MST(const MST& other);
  MST& operator=(const MST& other);
  ~MST() override;

  // Vertices 0 .. numRoots-1 are the roots. n is the truncated square root of the number of
  // entries; only the first n*n entries are read, entry a*n+b being the distance from a to b.
  void compute(std::vector<double>& distances, int numRoots);
  // k-th vertex to join (roots report 0). Not range checked.
  int order(int k) const { return order_[k]; }
  // Tree vertex through which v joined (roots report 0). Not range checked.
  int parent(int v) const { return parent_[v]; }
  // Number of vertices of the last computation.
  int size() const { return size_; }
  void erase();

 protected:
  void dispatchSerialize(vcArchive& ar) override;

 private:
  static vcPersistent* make();
  void serialize_(vcArchive& ar, unsigned char version);

  std::vector<std::int32_t> order_;
  std::vector<std::int32_t> parent_;
  std::int32_t size_ = 0;

  static const vc_Instantiator instantiator_;
};
