// What each piece of a part description will match, as the teach page shows it: every
// sub-model trained on its own with the settings the description gives its first instance
// (the library's training, as `flexalign train` does it), and from the trained engine the edge
// points a Geofind piece matches or the template a correlation piece correlates, with a
// warning where a piece has too few edges or too little contrast to be found reliably or where
// its edges cannot fix a direction or its angle (the training's own warnings), and the
// pairs of pieces that overlap so much that a run would drop one of them.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "tools/cli/vcCliDescription.h"

// Fewer fine edge points than this, or coarse ones than the second, and a Geofind piece is
// easily taken for clutter: the page warns. (The engine refuses fewer than 8 at any level.)
constexpr long kVcTeachFewEdges = 32;
constexpr long kVcTeachFewCoarseEdges = 12;
// A correlation template whose grey levels spread less than this (standard deviation) is
// placed by noise more than by its pattern: the page warns.
constexpr double kVcTeachFlatTemplate = 4.0;
// At most this many edge points per piece go to the page (evenly thinned beyond).
constexpr std::size_t kVcTeachMaxShownPoints = 20000;

// {"pieces": [per sub-model, description order: {"name", "kind", "engine", "error" (training
//  failed), "points": [x, y, ...] (edge points in the piece's coordinates), "edges": {"fine",
//  "coarse", "fineGrain", "coarseGrain"}, "template": {"width", "height", "reduction", "png"
//  (data URL; pixels a mask leaves out chequered), "contrast"}, "warnings": [text]}],
//  "overlaps": [{"first", "second" (instance names), "fraction", "text"}], "instances": [the
//  instances' names, as tables and warnings call them]}
nlohmann::json vfTeachPieces(const vcCliTrainJob& job);

// "data:image/png;base64,..." of PNG bytes.
std::string vfTeachPngDataUrl(const std::string& png);
