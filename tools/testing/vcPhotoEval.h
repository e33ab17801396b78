// The real-image evaluation: the photograph parts of vcPhotoSample found by FlexAlign runs with
// default settings (only each piece's angle range set) under the degradations a camera
// produces, with the found rate, the location error of every piece and the run times. Shared
// by the tests, which hold the goals, and the benchmark, which prints every condition.
#pragma once

#include <string>
#include <vector>

#include "tools/testing/vcPhotoSample.h"
#include "vcFlexAlignTool.h"

struct vcPhotoCondition {
  std::string name;             // e.g. "blur2", "noise15", "gain0.4", "inverted", "patch25"
  vcPhotoSceneOptions degrade;  // only the degradation fields are used
  bool ignorePolarity = false;  // trains the pieces so (the reversed-polarity condition)
  // The whole scene, training image included, enlarged this many times (cubic interpolation: a
  // lens that does not resolve single pixels); 1: the photograph's own resolution. The parts of
  // such a condition come from vfTrainEnlargedPhotoPart.
  double enlarge = 1.0;
  // Goals: share of pieces found, RMS location error of the found ones, largest error of a
  // found one (0: none).
  double goalFound = 1.0, goalRmsPx = 0.0, goalWorstPx = 0.0;
};

// Every condition of the evaluation, clean first.
std::vector<vcPhotoCondition> vfPhotoConditions();
// The conditions of the correlation pieces' evaluation: the same, with the goals of that
// engine (every piece found, RMS 0.1 px clean and 0.2 px under blur 1 and 2, noise 5 to 15 and
// gains 0.5 to 1.4), gains of 0.5 and 1.4 added, and "moved": pieces moved by up to 5 px and
// turned by up to 3 degrees against the layout. Reversed polarity and the patches have no goal:
// a correlation template does not match its negative, and a quarter of it covered costs it a
// quarter of its score.
std::vector<vcPhotoCondition> vfCorrelationPhotoConditions();

struct vcPhotoStats {
  // Pieces left out of the counts: partly outside the image, or with more than half of their
  // edges saturated by the gain. Nothing can find them.
  int outside = 0, saturated = 0;
  int pieces = 0;  // pieces in the scenes that can be found
  int found = 0;   // found within 1.5 px of their truth
  int wrong = 0;   // reported found farther away (a confident wrong answer)
  double rmsPx = 0, worstPx = 0, angleRmsDeg = 0;
  int runsAll = 0, runsShort = 0;  // runs finding every piece, runs missing some
  double msAll = 0, msShort = 0;   // mean run time of each kind
  double foundRate() const { return pieces ? double(found) / pieces : 0.0; }
  bool goalMet(const vcPhotoCondition& c) const {
    return foundRate() >= c.goalFound - 1e-12 && wrong == 0 &&
           (c.goalRmsPx <= 0 || rmsPx <= c.goalRmsPx) &&
           (c.goalWorstPx <= 0 || worstPx <= c.goalWorstPx);
  }
};

// The part of one photograph trained for a condition's polarity setting.
struct vcPhotoTrained {
  vcPhotoPart part;
  vcFlexAlignPattern pattern;
  bool ignorePolarity = false;
};
vcPhotoTrained vfTrainPhotoPart(const std::string& photo, bool ignorePolarity);
// The part of the photograph enlarged `enlarge` times as a whole (vfMakeScaledPhotoPart).
vcPhotoTrained vfTrainEnlargedPhotoPart(const std::string& photo, double enlarge);

// The run settings of the evaluation: the start pose is the nominal one, the part may lie up to
// 20 px, 6 degrees and 5 % away from it; each piece keeps the default settings but for its
// angle range of +-4 degrees.
vcFlexAlignRunParams vfPhotoRunParams();

// The same part with correlation pieces, trained as the command trains them: each piece for
// the turns and sizes its run can ask of it (its own ranges plus the part's), everything else
// at its defaults.
vcPhotoTrained vfTrainPhotoPartCorrelation(const std::string& photo);
// vfPhotoRunParams() with correlation pieces: each at its defaults but the same +-4 degrees,
// and sizes within 2 %, the range FlexAlign gives a Geofind piece searched around a predicted
// pose (it does not yet for correlation pieces).
vcFlexAlignRunParams vfPhotoRunParamsCorrelation();

// `scenes` run images per part: the part turned by up to 4 degrees, scaled by up to 3 % and
// moved by up to 10 px, each piece moved by up to the condition's maxShift (3 px) and turned
// by up to its maxTurnDeg (2 degrees). The run settings are vfPhotoRunParams() unless given.
vcPhotoStats vfRunPhotoCondition(const std::vector<const vcPhotoTrained*>& parts,
                                 const vcPhotoCondition& c, int scenes, unsigned seed = 1,
                                 const vcFlexAlignRunParams* runParams = nullptr);
