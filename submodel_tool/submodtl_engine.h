// One pattern-location engine as the sub-model tool trains, runs, copies and stores it.
//
// Each engine has one adapter here, which reads its own kind of sub-model parameters and holds
// its engine object (the correlation model or the Geofind pattern); the engines themselves know
// nothing of sub-models. The tool owns one adapter, of the kind its training parameters name,
// from its first training on; the engine object inside exists once a sub-model that is not
// blank has been trained.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcPelBuffer.h"
#include "platform/diag/vcDiagFwd.h"
#include "vcFlexModels.h"
#include "vcFlexSubModelParams.h"

class vcArchive;
class vcGFAlignPattern;
struct vc_SubModelSearchContext;
template <class T>
class vc_PatCorModel;

// What one engine run is given: the image (and the mask, unbound when none), the start pose
// (client from sub-model), the effective run parameters (of the adapter's kind), the number of
// candidates to ask for, and the tool's stored training parameters and sub-model.
struct vc_SubModelEngineRun {
  const vcPelBuffer_const<unsigned char>& image;
  const vcPelBuffer_const<unsigned char>& mask;
  const vc2XformBase& startPose;
  const vcFlexSubModelRunParams& params;
  long numToFind;
  const vcFlexSubModelTrainParams* trainParams;
  const vcFlexSubModel& subModel;
  vcDiagObject* diag;
  unsigned long diagFlags;
  const vc_SubModelSearchContext* context;
};

class vc_SubModelEngine {
 public:
  using Engine = vcFlexSubModelParamsDefs::Engine;

  virtual ~vc_SubModelEngine() = default;

  // The adapter of `kind` without an engine object (it runs blank sub-models and reads its
  // kind's parameters); null for eNoEngine. Shared and immutable.
  static const vc_SubModelEngine* forKind(Engine kind);

  virtual Engine kind() const = 0;
  // "Correlation" or "Geofind", as the diagnostic records name the engine.
  virtual const char* name() const = 0;
  // A new adapter of this kind without an engine object.
  virtual std::unique_ptr<vc_SubModelEngine> fresh() const = 0;
  // A new adapter whose engine object is a copy of this one's: engine objects are never shared,
  // but their trained data is immutable (runs change nothing in it), so the copy shares it.
  virtual std::unique_ptr<vc_SubModelEngine> clone() const = 0;

  virtual bool hasModel() const = 0;
  // The tool's trained state given its own trained flag, the only state of a blank sub-model.
  virtual bool isTrained(bool trainedFlag) const = 0;
  // Trains a new engine object from `params` (of this kind); a blank sub-model drops the one
  // held and trains none. The engine's failures come out as vcFlexAlignDefs::CanNotTrain.
  virtual void train(const vcFlexSubModel& subModel, const vcFlexSubModelTrainParams& params,
                     vcDiagObject* diag) = 0;
  // Searches the run's image and appends a sub-model result of this kind per instance kept,
  // with the result set's note saying what the search saw. Throws vcFlexAlignDefs::InternalError
  // when the training parameters are of another kind or a sub-model that is not blank has no
  // engine object.
  virtual void run(const vc_SubModelEngineRun& in, vc_SubModelResultSet& results) const = 0;

  // Equal settings of two training parameters of this kind: a private class and its public
  // base with equal settings train the same engine model.
  virtual bool sameTraining(const vcFlexSubModelTrainParams& a,
                            const vcFlexSubModelTrainParams& b) const = 0;
  // How far past every pose its ranges allow a search window reaches (image pixels), for
  // training parameters of this kind.
  virtual double searchMargin(const vcFlexSubModelTrainParams& params) const = 0;

  virtual std::vector<std::string> trainingWarnings() const { return {}; }
  virtual const vc_PatCorModel<unsigned char>* correlationModel() const { return nullptr; }
  virtual const vcGFAlignPattern* geofindPattern() const { return nullptr; }

  // The trained engine object in a tool's archive, for the kinds that store it (reading a
  // Geofind pattern costs less than training it; a correlation model is trained again).
  virtual bool storesModel() const { return false; }
  // Writes the engine object, or reads a new one into this adapter.
  virtual void serializeModel(vcArchive& ar) {}
  // Whether the engine object is the trained one that `params` train.
  virtual bool modelMatches(const vcFlexSubModelTrainParams& params) const { return false; }
};

// The adapters without engine objects, one per engine (submodtl_cor.cpp, submodtl_gfnd.cpp).
const vc_SubModelEngine& vfCorrelationEngine();
const vc_SubModelEngine& vfGeofindEngine();
