// Run settings as a part description writes them (the `run` object and a piece's `run`), for
// people reading what a pattern runs with: `flexalign info`, the diagnostic reports. The
// library's own parameter texts name its enumerations and keep scale zones relative to 1; these
// use the description's names and factors.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/core/vcXform.h"
#include "vcFlexAlignTool.h"

// {"acceptThreshold", "required", "xyUncertainty", "angle" (when searched), "scale" (when
// searched), "contrastThreshold" (Geofind)}.
nlohmann::ordered_json vfPieceRunSettings(const vcFlexSubModelRunParams& p);
// {"start", "numToFind", "acceptThreshold", "strategy", "xyUncertainty", "angle", "scale",
// "subModels"}, and "pieces": each instance's settings by name where they differ from
// "subModels".
nlohmann::ordered_json vfRunSettings(const vcFlexAlignRunParams& rp, const vcXform<2>& start,
                                     const std::vector<std::string>& names);
// The same from the text a piece's run parameters give of themselves (as a sub-model search
// records them in a report); empty when the text is not such a record.
nlohmann::ordered_json vfPieceRunSettingsFromText(const std::string& text);

// Objects one member a line, arrays and numbers on one line: {"angle": [-4, 4], ...}.
std::string vfSettingsText(const nlohmann::ordered_json& j, int indent = 0);

// How far about its predicted place a piece is searched, in image pixels either way (x, y),
// and over which angles (degrees about its predicted angle): what `flexalign info` prints.
struct vcPieceReach {
  // Found pieces predict it: its own uncertainty plus twice its engine's coarse grid, which
  // the search window reaches beyond its box. The first piece: its own and the part's.
  double x = 0, y = 0;
  double angleLow = 0, angleHigh = 0;
  bool angle = false;  // whether the angle is searched
};
// As the piece is searched once other pieces are found (`first` false), or as the first
// piece of a part, about the start pose (`first` true: the part's uncertainty and zones added).
vcPieceReach vfPieceReach(const vcFlexAlignRunParams& rp, const vcFlexAlignTrainParams& train,
                          long instance, bool first);
