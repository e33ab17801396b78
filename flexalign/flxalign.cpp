// The FlexAlign pattern: its data, comparison, training and archive.

#include <string>
#include <utility>

#include "flexalign/flxalign_archive.h"
#include "flexalign/flxalign_diag.h"
#include "platform/core/vcTimer.h"
#include "platform/diag/vcDiag.h"
#include "vcFlexAlignTool.h"

vcFlexAlignPattern::vcFlexAlignPattern()
    : trainParams_(vcFlexSubModelCorTrainParams()), arrangement_(std::vector<vcFlexSubModel>()) {}

bool vcFlexAlignPattern::operator==(const vcFlexAlignPattern& o) const {
  if (maxRecursionDepth_ != o.maxRecursionDepth_ || trained_ != o.trained_) return false;
  if (trainParams_ != o.trainParams_ || arrangement_ != o.arrangement_) return false;
  if (instanceToTool_.size() != o.instanceToTool_.size() || tools_.size() != o.tools_.size())
    return false;
  if (instanceToTool_ != o.instanceToTool_) return false;
  for (std::size_t i = 0; i < tools_.size(); ++i)
    if (tools_[i] != o.tools_[i]) return false;
  return true;
}

namespace {

using vc_flxalign::recordTrainInputs;
using vc_flxalign::recordTrainOutputs;
using vc_flxalign::recordTrainThrow;

// The first reason the arrangement cannot be trained, or empty.
std::string arrangementProblem(const vcFlexArrangement& a) {
  if (a.subModels().empty()) return "Arrangement contains no sub-models.";
  if (a.subModelIndices().empty())
    return "No sub-model instances are specified within an arrangement.";
  const std::size_t n = a.subModelIndices().size();
  if (n > static_cast<std::size_t>(vcFlexAlignPattern::kMaxInstances))
    return "An arrangement may hold at most " + std::to_string(vcFlexAlignPattern::kMaxInstances) +
           " sub-model instances; this one holds " + std::to_string(n) + ".";
  for (long s : a.subModelIndices())
    if (a.subModels()[static_cast<std::size_t>(s)].modelType() != vcFlexModelDefs::eBlank)
      return std::string();
  return "Arrangement contains no non-Blank sub-models.";
}

}  // namespace

void vcFlexAlignPattern::train(const vcFlexArrangement& arrangement,
                               const vcFlexAlignTrainParams& params, vcDiagObject* diag,
                               unsigned long diagFlags) {
  recordTrainInputs(diag, diagFlags, arrangement, params);
  if (const std::string problem = arrangementProblem(arrangement); !problem.empty()) {
    vcFlexAlignDefs::BadArrangement e(problem);
    recordTrainOutputs(diag, diagFlags, true);
    recordTrainThrow(diag, diagFlags, e);
    throw e;
  }
  untrain_();
  try {
    // Copies first, so that a failure while copying keeps the stored ones.
    vcFlexArrangement storedArrangement(arrangement);
    vcFlexAlignTrainParams storedParams(&params == &trainParams_ ? trainParams_ : params);
    train_(arrangement, params, diag, diagFlags);
    arrangement_ = std::move(storedArrangement);
    trainParams_ = storedParams;
  } catch (const vcException& e) {
    untrain_();
    recordTrainOutputs(diag, diagFlags, true);
    recordTrainThrow(diag, diagFlags, e);
    throw;
  }
  recordTrainOutputs(diag, diagFlags, false);
}

void vcFlexAlignPattern::train_(const vcFlexArrangement& arrangement,
                                const vcFlexAlignTrainParams& params, vcDiagObject* diag,
                                unsigned long diagFlags) {
  vcTimer timer(true);
  const std::vector<long>& instances = arrangement.subModelIndices();
  const std::vector<vcFlexSubModel>& subModels = arrangement.subModels();

  // Per sub-model, its distinct parameter sets and the instance positions that use each.
  struct Group {
    vcPtrHandle<vcFlexSubModelTrainParams> params;
    std::vector<std::size_t> positions;
  };
  std::vector<std::vector<Group>> groups(subModels.size());
  for (std::size_t s = 0; s < subModels.size(); ++s) {
    for (std::size_t p = 0; p < instances.size(); ++p) {
      if (instances[p] != static_cast<long>(s)) continue;
      const vcFlexSubModelTrainParams& wanted = params.subModelInstanceParams(static_cast<long>(p));
      bool joined = false;
      for (Group& g : groups[s]) {
        if (g.params->equal(wanted)) {
          g.positions.push_back(p);
          joined = true;
        }
      }
      if (!joined) groups[s].push_back(Group{wanted.clone(), {p}});
    }
  }

  instanceToTool_.assign(instances.size(), 0);
  // Room for every new tool up front: growing the list would copy, and so retrain, each tool.
  std::size_t newTools = 0;
  for (const auto& g : groups) newTools += g.size();
  tools_.reserve(tools_.size() + newTools);
  for (std::size_t s = 0; s < subModels.size(); ++s) {
    for (const Group& g : groups[s]) {
      vc_SubModelTool tool;
      tool.train(subModels[s], *g.params, diag, diagFlags);
      tools_.push_back(std::move(tool));
      for (std::size_t p : g.positions) instanceToTool_[p] = static_cast<long>(tools_.size() - 1);
    }
  }
  trained_ = true;
}

bool vcFlexAlignPattern::isEquivalent_(const vcFlexArrangement& a, const vcFlexArrangement& b) {
  if (a.subModels().size() != b.subModels().size()) return false;
  for (std::size_t i = 0; i < a.subModels().size(); ++i)
    if (a.subModels()[i] != b.subModels()[i]) return false;
  if (a.subModelIndices() != b.subModelIndices()) return false;
  if (a.positions().size() != b.positions().size()) return false;
  const vcVector<2> zero(0.0, 0.0);
  return a.origin()->linearXform(zero) == b.origin()->linearXform(zero);
}

void vcFlexAlignPattern::retrain(const vcFlexArrangement& arrangement, vcDiagObject* diag,
                                 unsigned long diagFlags) {
  if (!trained_) throw vcFlexAlignDefs::NotTrained("Cannot retrain an untrained tool.");
  if (!isEquivalent_(arrangement_, arrangement)) {
    train(arrangement, trainParams_, diag, diagFlags);
    return;
  }
  vcDiagObject* recorder = vcDiagObject::getRecordingDestination(diag, diagFlags);
  arrangement_ = arrangement;
  try {
    recordTrainInputs(recorder, diagFlags, arrangement, trainParams_);
  } catch (const vcFlexAlignDefs::BadParams& e) {
    recordTrainOutputs(recorder, diagFlags, true);
    recordTrainThrow(recorder, diagFlags, e);
    throw vcFlexAlignDefs::CanNotTrain("Cumulative Uncertainties are too large.");
  }
  recordTrainOutputs(recorder, diagFlags, false);
}

void vcFlexAlignPatternHelper::maxRecursionDepth(vcFlexAlignPattern& p, long depth) {
  if (depth < 0) throw vcFlexAlignDefs::BadParams("Recursion depth must be >= 0");
  p.maxRecursionDepth_ = depth;
}

vcArchive& operator||(vcArchive& ar, vcFlexAlignPattern& p) {
  using namespace vc_flxalign;
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw vcArchive::UnknownVersion(kSource, __LINE__);
  if (ar.isStoring()) {
    ar || p.trainParams_ || p.arrangement_;
    exchangeListVersion(ar, __LINE__);
    exchangeCount32(ar, p.tools_.size(), 1);
    for (vc_SubModelTool& t : p.tools_) ar || t;
    std::vector<long> map = p.instanceToTool_;
    exchangeLongs(ar, map, __LINE__);
    bool trained = p.trained_;
    int depth = static_cast<int>(p.maxRecursionDepth_);
    ar || trained || depth;
    return ar;
  }
  // Loads into a fresh pattern, so a damaged archive leaves `p` as it was.
  vcFlexAlignPattern loaded;
  ar || loaded.trainParams_ || loaded.arrangement_;
  exchangeListVersion(ar, __LINE__);
  loaded.tools_.resize(exchangeCount32(ar, 0, 1));
  for (vc_SubModelTool& t : loaded.tools_) ar || t;
  exchangeLongs(ar, loaded.instanceToTool_, __LINE__);
  int depth = 0;
  ar || loaded.trained_ || depth;
  // The run indexes tools and sub-models through the map: a damaged one must not get that far.
  const std::vector<long>& instances = loaded.arrangement_.subModelIndices();
  if (instances.size() > static_cast<std::size_t>(vcFlexAlignPattern::kMaxInstances))
    throw vcArchive::BadData("flxalign pattern: more sub-model instances than a pattern may hold");
  if (loaded.trained_) {
    if (loaded.instanceToTool_.size() != instances.size())
      throw vcArchive::BadData("flxalign pattern: instance map does not match the arrangement");
    for (long t : loaded.instanceToTool_)
      if (t < 0 || static_cast<std::size_t>(t) >= loaded.tools_.size())
        throw vcArchive::BadData("flxalign pattern: instance map names a missing tool");
  }
  if (depth < 0) throw vcArchive::BadData("flxalign pattern: negative recursion depth");
  loaded.maxRecursionDepth_ = depth;
  p = std::move(loaded);
  return ar;
}
