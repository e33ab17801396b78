// The tree of candidate combinations: path scores, removal of duplicate combinations and the
// ranked selection of the best ones.

#include "platform/core/vcArchive.h"
#include "vcFlexAlignTool.h"

vc_ResTreeElem::vc_ResTreeElem() : root_(this) {}

vc_ResTreeElem::vc_ResTreeElem(long index, const ResultHandle& result, const Handle& parent)
    : vc_ResTreeElem(index, result, parent.ptr()) {}

vc_ResTreeElem::vc_ResTreeElem(long index, const ResultHandle& result, vc_ResTreeElem* parent)
    : result_(result ? result->clone() : ResultHandle()),
      index_(index),
      parent_(parent),
      root_(parent ? parent->root_ : this) {}

vc_ResTreeElem::Handle vc_ResTreeElem::addChild(long index, const ResultHandle& result) {
  // Built with a plain parent pointer: a handle to this node would take ownership of a node
  // nobody else may yet hold.
  Handle child(new vc_ResTreeElem(index, result, this));
  children_.push_back(child);
  return child;
}

std::vector<vc_ResTreeElem::Handle> vc_ResTreeElem::addChildren(
    long index, const std::vector<ResultHandle>& results) {
  std::vector<Handle> added;
  added.reserve(results.size());
  for (const ResultHandle& r : results) added.push_back(addChild(index, r));
  return added;
}

bool vc_ResTreeElem::addChildren(const std::vector<long>& indices,
                                 const std::vector<ResultHandle>& results) {
  if (indices.size() != results.size()) return false;
  for (std::size_t k = 0; k < indices.size(); ++k) addChild(indices[k], results[k]);
  return true;
}

double vc_ResTreeElem::scoreElem(long) const { return result_->score(); }

double vc_ResTreeElem::scoreLeafPath(const vcFlexArrangement& arrangement) const {
  double sum = 0.0;
  for (const vc_ResTreeElem* e = this; e && e != root_; e = e->parent_)
    sum += e->result_->score() * vcFlexArrangementHelper::subModelFraction(arrangement, e->index_);
  return sum;
}

const vc_ResTreeElem* vc_ResTreeElem::searchLeafPath(long index) const {
  for (const vc_ResTreeElem* e = this; e; e = e->parent_)
    if (e->index_ == index) return e;
  return nullptr;
}

void vc_ResTreeElem::listLeafs_(std::vector<Handle>& out, const Handle& self) {
  if (children_.empty()) {
    if (parent_) out.push_back(self);
    return;
  }
  for (const Handle& c : children_) c->listLeafs_(out, c);
}

std::vector<vc_ResTreeElem::Handle> vc_ResTreeElem::listLeafs() {
  std::vector<Handle> out;
  if (children_.empty()) {
    // A leaf's own handle is the one its parent holds.
    if (parent_)
      for (const Handle& c : parent_->children_)
        if (c.ptr() == this) out.push_back(c);
    return out;
  }
  for (const Handle& c : children_) c->listLeafs_(out, c);
  return out;
}

void vc_ResTreeElem::deleteLeafPath() {
  // Keeps this node alive while its parent drops it.
  const Handle self(this);
  for (vc_ResTreeElem* e = this; e; e = e->parent_) {
    if (e->children_.empty()) {
      e->deleteMe_ = true;
    } else {
      std::vector<Handle> live;
      for (const Handle& c : e->children_)
        if (!c->deleteMe_) live.push_back(c);
      e->deleteMe_ = live.empty();
      e->children_ = std::move(live);
    }
    if (!e->deleteMe_ || e == root_) break;
  }
}

void vc_ResTreeElem::pruneTree(const vcFlexArrangement& arrangement,
                               const vcFlexAlignRunParams& runParams) {
  const std::vector<Handle> leaves = listLeafs();
  const std::size_t n = leaves.size();
  std::vector<bool> flagged(n, false);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n && !flagged[i]; ++j) {
      if (flagged[j]) continue;
      // Leaf i repeats leaf j when every instance on i's path overlaps j's result for it.
      bool duplicate = true;
      for (const vc_ResTreeElem* e = leaves[i].ptr(); e && e != e->root_ && duplicate;
           e = e->parent_) {
        const vc_ResTreeElem* f = leaves[j]->searchLeafPath(e->index_);
        const vcFlexSubModel& sm = arrangement.subModels()[static_cast<std::size_t>(
            arrangement.subModelIndices()[static_cast<std::size_t>(e->index_)])];
        duplicate =
            f && f->result_ &&
            e->result_->isOverlapping(sm, *f->result_, runParams.subModelInstanceParams(e->index_));
      }
      if (!duplicate) continue;
      if (leaves[j]->scoreLeafPath(arrangement) < leaves[i]->scoreLeafPath(arrangement))
        flagged[j] = true;
      else
        flagged[i] = true;
    }
  }
  for (std::size_t k = 0; k < n; ++k) {
    if (flagged[k]) leaves[k]->deleteLeafPath();
  }
}

std::vector<vc_ResTreeElem::Handle> vc_ResTreeElem::topScoringLeafs(
    const vcFlexArrangement& arrangement, const vcFlexAlignRunParams& runParams) {
  pruneTree(arrangement, runParams);
  std::vector<Handle> leaves = listLeafs();
  std::vector<double> scores;
  scores.reserve(leaves.size());
  for (const Handle& l : leaves) scores.push_back(l->scoreLeafPath(arrangement));
  // Selection sort: equal scores keep their earlier order.
  for (std::size_t p = 0; p < leaves.size(); ++p) {
    std::size_t best = p;
    for (std::size_t q = p + 1; q < leaves.size(); ++q)
      if (scores[q] > scores[best]) best = q;
    std::swap(leaves[p], leaves[best]);
    std::swap(scores[p], scores[best]);
  }
  std::size_t keep = 0;
  for (double s : scores)
    if (s > runParams.acceptThreshold()) ++keep;
  leaves.resize(keep);
  return leaves;
}

void vc_ResTreeElem::removeChild(const vc_ResTreeElem* child) {
  for (auto it = children_.begin(); it != children_.end(); ++it)
    if (it->ptr() == child) {
      children_.erase(it);
      return;
    }
}

void vc_ResTreeElem::dispatchSerialize(vcArchive&) {
  throw vcArchive::BadData("result tree nodes are not archived");
}
