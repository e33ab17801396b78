// The FlexAlign tool: a part described as an arrangement of sub-models is trained once into one
// sub-model tool per distinct sub-model and training parameter set, and later located in images
// with every piece found.
//
// Sections: train parameters, run parameters, alignment results, the pattern.
#pragma once

#include <string>
#include <vector>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcHandle.h"
#include "platform/core/vcVector.h"
#include "platform/diag/vcDiagFwd.h"
#include "vcDofData.h"
#include "vcFlexErrors.h"
#include "vcFlexModels.h"
#include "vcFlexSubModelParams.h"
#include "vcSubModelTool.h"

class vcArchive;
class vcGraphicList;

// ---------------------------------------------------------------------------------------------
// Train parameters
// ---------------------------------------------------------------------------------------------

class vc_FlexAlignTrainParams;

// One standard sub-model train parameter set for every instance, and custom sets for chosen
// instance indices. Every set handed in is cloned; copies clone again.
class vcFlexAlignTrainParams {
 public:
  explicit vcFlexAlignTrainParams(
      const vcFlexSubModelTrainParams& standard = vcFlexSubModelCorTrainParams());
  vcFlexAlignTrainParams(const vcFlexAlignTrainParams& o);
  vcFlexAlignTrainParams& operator=(const vcFlexAlignTrainParams& o);
  virtual ~vcFlexAlignTrainParams();

  // vcBadPointer when the standard handle is empty (only a damaged archive leaves it so).
  const vcFlexSubModelTrainParams& standard() const;
  void standard(const vcFlexSubModelTrainParams& p);
  // index >= 0 (BadIndex); replaces the entry of `index` or appends one.
  void custom(long index, const vcFlexSubModelTrainParams& p);
  // BadIndex for a negative index or one without a custom entry.
  const vcFlexSubModelTrainParams& custom(long index) const;
  // The custom entry of `index` if there is one, else the standard set.
  const vcFlexSubModelTrainParams& subModelInstanceParams(long index) const;
  // Removes the custom entry of `index`, if any (BadIndex for a negative index).
  void restoreStandardParams(long index);
  // Indices with custom entries, in the order in which they were first set.
  const std::vector<long>& customSubModelInstanceIndices() const { return customIndices_; }

  // Index vectors, list lengths, standard and custom sets compared in order.
  bool operator==(const vcFlexAlignTrainParams& o) const;
  bool operator!=(const vcFlexAlignTrainParams& o) const { return !(*this == o); }

  std::string toDebugString() const;

  // The same settings viewed as the private class (which adds none): the object itself when it
  // was built as the private class, else an owned copy refreshed on every call.
  vc_FlexAlignTrainParams& privData();
  const vc_FlexAlignTrainParams& privData() const;

  friend vcArchive& operator||(vcArchive& ar, vcFlexAlignTrainParams& p);

 private:
  void assign_(const vcFlexAlignTrainParams& o);
  // Position of `index` in the custom lists, or -1.
  long findCustom_(long index) const;

  vcPtrHandle_const<vcFlexSubModelTrainParams> standard_;
  std::vector<vcPtrHandle_const<vcFlexSubModelTrainParams>> custom_;
  std::vector<long> customIndices_;
  mutable vc_PrivView<vc_FlexAlignTrainParams> privView_;
};

vcArchive& operator||(vcArchive& ar, vcFlexAlignTrainParams& p);

class vc_FlexAlignTrainParams : public vcFlexAlignTrainParams {
 public:
  vc_FlexAlignTrainParams() : vcFlexAlignTrainParams(vcFlexSubModelCorTrainParams()) {}
  vc_FlexAlignTrainParams(const vc_FlexAlignTrainParams&) = default;
  explicit vc_FlexAlignTrainParams(const vcFlexAlignTrainParams& o) : vcFlexAlignTrainParams(o) {}
  vc_FlexAlignTrainParams& operator=(const vc_FlexAlignTrainParams&) = default;
  ~vc_FlexAlignTrainParams() override = default;

  vc_FlexAlignTrainParams& privData() { return *this; }
  const vc_FlexAlignTrainParams& privData() const { return *this; }
};

// ---------------------------------------------------------------------------------------------
// Run parameters
// ---------------------------------------------------------------------------------------------

// ---------------------------------------------------------------------------------------------
// Alignment results
// ---------------------------------------------------------------------------------------------

// ---------------------------------------------------------------------------------------------
// The pattern
// ---------------------------------------------------------------------------------------------

// A part trained once from an arrangement: one trained sub-model tool per distinct pair of
// sub-model and train parameters (instances sharing both share a tool), and the map from each
// instance to its tool. The pattern keeps private copies of the arrangement and parameters.
class vcFlexAlignPattern {
 public:
  vcFlexAlignPattern();
  // A copy trains sub-model tools of its own (engine objects are never shared).
  vcFlexAlignPattern(const vcFlexAlignPattern& o) = default;
  vcFlexAlignPattern& operator=(const vcFlexAlignPattern& o) = default;
  vcFlexAlignPattern(vcFlexAlignPattern&& o) = default;
  vcFlexAlignPattern& operator=(vcFlexAlignPattern&& o) = default;
  ~vcFlexAlignPattern() = default;

  // Recursion depth, trained flag, train parameters, arrangement, map and tools, in this order.
  bool operator==(const vcFlexAlignPattern& o) const;
  bool operator!=(const vcFlexAlignPattern& o) const { return !(*this == o); }

  // Validates the arrangement first (BadArrangement), which leaves an earlier training intact.
  // A failure after that leaves the pattern untrained with the earlier arrangement and
  // parameters stored.
  void train(const vcFlexArrangement& arrangement, const vcFlexAlignTrainParams& params,
             vcDiagObject* diag = nullptr, unsigned long diagFlags = 0);
  // Keeps the tools when only the instance poses changed; otherwise trains anew with the stored
  // train parameters. NotTrained for an untrained pattern.
  void retrain(const vcFlexArrangement& arrangement, vcDiagObject* diag = nullptr,
               unsigned long diagFlags = 0);
  void untrain() { untrain_(); }
  bool isTrained() const { return trained_; }

  const vcFlexArrangement& arrangement() const { return arrangement_; }
  const vcFlexAlignTrainParams& trainParams() const { return trainParams_; }
  // The trained tools and, per instance position, the index of its tool.
  const std::vector<vc_SubModelTool>& tools() const { return tools_; }
  const std::vector<long>& instanceToTool() const { return instanceToTool_; }

  friend vcArchive& operator||(vcArchive& ar, vcFlexAlignPattern& p);
  friend class vcFlexAlignPatternHelper;

 private:
  void train_(const vcFlexArrangement& arrangement, const vcFlexAlignTrainParams& params,
              vcDiagObject* diag, unsigned long diagFlags);
  void untrain_() { trained_ = false; }
  // Same sub-models and instance list, as many poses, equal linear origins.
  static bool isEquivalent_(const vcFlexArrangement& a, const vcFlexArrangement& b);

  void recordTrainInputs(vcDiagObject* diag, unsigned long flags,
                         const vcFlexArrangement& arrangement,
                         const vcFlexAlignTrainParams& params) const;
  void recordTrainOutputs(vcDiagObject* diag, unsigned long flags, bool failed) const;
  void recordTrainThrow(vcDiagObject* diag, unsigned long flags, const vcException& e) const;

  vcFlexAlignTrainParams trainParams_;
  vcFlexArrangement arrangement_;
  std::vector<vc_SubModelTool> tools_;
  std::vector<long> instanceToTool_;
  long maxRecursionDepth_ = 0;
  bool trained_ = false;
};

vcArchive& operator||(vcArchive& ar, vcFlexAlignPattern& p);

class vcFlexAlignPatternHelper {
 public:
  static long maxRecursionDepth(const vcFlexAlignPattern& p) { return p.maxRecursionDepth_; }
  // depth >= 0 (BadParams "Recursion depth must be >= 0").
  static void maxRecursionDepth(vcFlexAlignPattern& p, long depth);
};
