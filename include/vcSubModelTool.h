// One sub-model trained and run with one pattern-location engine.
//
// The engine is the one the training parameters name (engine()): correlation parameters train a
// correlation model, Geofind parameters a Geofind pattern. A blank sub-model trains no
// engine; its run reports the start pose. A run narrows the search ranges by the distortion
// allowed around already-found points, cuts a search window out of the image and converts the
// engine's results into sub-model results.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcHandle.h"
#include "platform/core/vcPair.h"
#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcShapes.h"
#include "platform/core/vcVector.h"
#include "platform/diag/vcDiagFwd.h"
#include "vcFlexModels.h"
#include "vcFlexSubModelParams.h"

class vcArchive;
class vcGFAlignPattern;
class vcGFImageCache;
class vcThreadPool;
class vc_SubModelEngine;

// What a caller that searches one image many times (a flexible part's pieces) shares with each
// search: Geofind's measurements of the image (see vcGFImageCache), its threads, how many
// candidates it keeps of a search (0: all the engine finds), so that the engine carries no
// more, and, when it knows better than the start pose, where it expects the sub-model's origin
// (client coordinates) and within how far.
struct vc_SubModelSearchContext {
  const vcGFImageCache* imageCache = nullptr;
  vcThreadPool* pool = nullptr;  // threads the engine may spread its candidates over
  long keep = 0;
  bool hasExpected = false;
  vcVector<2> expected;
  double expectedWithin = 0.0;
};
template <class T>
class vc_PatCorModel;

class vc_SubModelTool {
 public:
  // A window narrower or lower than this (pixels) cannot be searched: a run then reports no
  // candidate, with the outcome in its result set's note.
  static constexpr long kMinSearchSize = 3;

  vc_SubModelTool();
  // A copy has engine objects of its own, holding the source's trained model (training is
  // deterministic, so this is the model training anew would build).
  vc_SubModelTool(const vc_SubModelTool& o);
  vc_SubModelTool& operator=(const vc_SubModelTool& o);
  // A move hands the engine objects over without training them again (the constructor
  // allocates an empty sub-model, so only the assignment is noexcept).
  vc_SubModelTool(vc_SubModelTool&& o);
  vc_SubModelTool& operator=(vc_SubModelTool&& o) noexcept;
  ~vc_SubModelTool();

  // The engine's own trained state when an engine object exists, else the trained flag (the
  // only state of a tool whose sub-model is blank).
  bool isTrained() const;
  // Seconds spent in the last train call.
  double trainTime() const { return trainTime_; }
  // Training again with equal parameters and an equal sub-model keeps the engine objects and
  // only updates the train time. A failure leaves the trained flag, the stored parameters and
  // the stored sub-model as they were.
  void train(const vcFlexSubModel& subModel, const vcFlexSubModelTrainParams& params,
             vcDiagObject* diag = nullptr, unsigned long diagFlags = 0);

  // Finds the sub-model near `startPose` (client from sub-model). `points` are positions in
  // sub-model coordinates from which the allowed distortion is measured. `results` gets a
  // clone of the start pose, the instances found and a note of what the search saw (a window
  // outside the image or too small to search, the best candidate under the threshold). Changes
  // nothing in the tool (the sub-model frame goes to the engine with each run), so one trained
  // tool may run on several threads at once. `context` (optional) is what the caller's other
  // searches of the same image share with this one; its image cache must be the image's (and
  // the mask's) own.
  void run(const vcPelBuffer_const<unsigned char>& image, const vc2XformBase& startPose,
           const vcFlexSubModelRunParams& params, const std::vector<vcVector<2>>& points,
           vc_SubModelResultSet& results, vcDiagObject* diag = nullptr, unsigned long diagFlags = 0,
           const vc_SubModelSearchContext* context = nullptr) const;
  // The same, searching only where the mask (same window as the image) is set.
  void run(const vcPelBuffer_const<unsigned char>& image,
           const vcPelBuffer_const<unsigned char>& mask, const vc2XformBase& startPose,
           const vcFlexSubModelRunParams& params, const std::vector<vcVector<2>>& points,
           vc_SubModelResultSet& results, vcDiagObject* diag = nullptr, unsigned long diagFlags = 0,
           const vc_SubModelSearchContext* context = nullptr) const;

  // Trained flags, parameter kind and value, sub-models and (for correlation) the models; the
  // Geofind patterns are not compared.
  bool operator==(const vc_SubModelTool& o) const;
  bool operator!=(const vc_SubModelTool& o) const { return !(*this == o); }

  // What the tool was last trained with (empty parameters before the first training).
  const vcFlexSubModel& subModel() const { return subModel_; }
  const vcPtrHandle<vcFlexSubModelTrainParams>& trainParams() const { return trainParams_; }
  // The engine objects, for inspection; at most one exists.
  const vc_PatCorModel<unsigned char>* correlationModel() const;
  const vcGFAlignPattern* geofindPattern() const;
  // What training found the piece's edges cannot fix, in fixed words (a direction it can slide
  // along, no angle for a round piece, an angle defined only modulo 360/n): the Geofind
  // pattern's training warnings; none for a correlation or blank piece or before training.
  std::vector<std::string> trainingWarnings() const;

  // Distortion-derived search ranges around a start pose (Geofind-style units: degrees for
  // angles, factors for scales). Each throws vcFlexAlignDefs::DistortionRateTooLarge when the
  // distortion d does not fit the sub-model under the pose (isDistortionValid).
  static bool isDistortionValid(double d, const vcFlexSubModel& subModel,
                                const vc2XformBase& startPose);
  static vcRange rotationRange(double d, const vcFlexSubModel& subModel,
                               const vc2XformBase& startPose);
  static vcRange uScaleRange(double d, const vcFlexSubModel& subModel,
                             const vc2XformBase& startPose);
  static vcRange xScaleRange(double d, const vcFlexSubModel& subModel,
                             const vc2XformBase& startPose);
  static vcRange yScaleRange(double d, const vcFlexSubModel& subModel,
                             const vc2XformBase& startPose);
  static vcRange aspectRange(double d, const vcFlexSubModel& subModel,
                             const vc2XformBase& startPose);
  static vcRange skewRange(double d, const vcFlexSubModel& subModel, const vc2XformBase& startPose);
  // The allowed distortion for this tool's sub-model: the distortion rate times the distance,
  // under the start pose, from the sub-model's centre to the nearest of `points` (0 without
  // points or with a zero rate).
  double computeDistortion(const vc2XformBase& startPose, const vcFlexSubModelRunParams& params,
                           const std::vector<vcVector<2>>& points) const;
  // A clone of `params` with distortion rate 0 and its DOF ranges widened by the distortion-
  // derived ranges (only enabled DOFs). Throws vcFlexAlignDefs::WrongDOFMode for Geofind
  // parameters in custom DOF mode.
  vcPtrHandle<vcFlexSubModelRunParams> applyDistortionToDOFs(
      double d, const vc2XformBase& startPose, const vcFlexSubModelRunParams& params) const;

  friend vcArchive& operator||(vcArchive& ar, vc_SubModelTool& tool);

 private:
  void assign_(const vc_SubModelTool& o);
  void clean_();
  void retrain_();
  // The timed part of train: kept engine objects, or the engine's training.
  void train_(const vcFlexSubModel& subModel, const vcFlexSubModelTrainParams& params,
              const vc_SubModelEngine& engine, vcDiagObject* diag);

  // run_ between the input and the output records.
  void recordedRun_(const vcPelBuffer_const<unsigned char>& image,
                    const vcPelBuffer_const<unsigned char>& mask, const vc2XformBase& startPose,
                    const vcFlexSubModelRunParams& params, const std::vector<vcVector<2>>& points,
                    vc_SubModelResultSet& results, vcDiagObject* diag, unsigned long diagFlags,
                    bool useMask, const vc_SubModelSearchContext* context) const;
  void run_(const vcPelBuffer_const<unsigned char>& image,
            const vcPelBuffer_const<unsigned char>& mask, const vc2XformBase& startPose,
            const vcFlexSubModelRunParams& params, const std::vector<vcVector<2>>& points,
            vc_SubModelResultSet& results, bool useMask, vcDiagObject* diag,
            unsigned long diagFlags, const vc_SubModelSearchContext* context) const;

  // The engine of the last training (of its parameters' kind), holding its engine object once
  // a sub-model that is not blank was trained; none before the first training.
  std::unique_ptr<vc_SubModelEngine> engine_;
  vcPtrHandle<vcFlexSubModelTrainParams> trainParams_;
  vcFlexSubModel subModel_;
  double trainTime_ = 0.0;
  bool trained_ = false;
};

// Version byte 0, the training parameters (as a persistent object of their concrete class),
// the sub-model. The engines are not stored: loading retrains from what was read.
vcArchive& operator||(vcArchive& ar, vc_SubModelTool& tool);

// Search window of one engine run: the enclosing rectangle of the sub-model's model rectangle
// under every pose the ranges allow (pose is client from training client), widened to whole
// pixels and clipped to the image's window. Exposed for the tool's tests.
vcPelRect vfSubModelSearchWindow(const vcPelBuffer_const<unsigned char>& image,
                                 const vcFlexSubModelTrainParams& trainParams,
                                 const vcFlexSubModelRunParams& runParams,
                                 const vcFlexSubModel& subModel, const vcXform<2>& pose);
