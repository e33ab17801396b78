// What training found each piece's edges cannot fix (a direction it slides along, no angle for
// a round piece, an angle defined only modulo 360/n), per piece with the instances that use it,
// so that `flexalign train`, `info` and `preview` warn in the same words as the teach page and
// Python.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/cli/vcCliDescription.h"
#include "vcFlexAlignTool.h"

struct vcCliPieceWarnings {
  std::vector<std::size_t> instances;  // instance positions, ascending
  std::vector<std::string> texts;      // the engine's training warnings, never empty
};

// From a trained pattern's tools (a loaded pattern file's stored models).
std::vector<vcCliPieceWarnings> vfPieceWarnings(const vcFlexAlignPattern& p);
// From a description: each sub-model trained alone with its first instance's settings, as the
// teach page does; a piece whose training fails is left out (training reports it).
std::vector<vcCliPieceWarnings> vfPieceWarnings(const vcCliTrainJob& job);
// `piece "a"`, or `pieces "a", "b" and 3 more` for a sub-model placed several times.
std::string vfPieceWarningSubject(const vcCliPieceWarnings& w,
                                  const std::vector<std::string>& instanceNames);
