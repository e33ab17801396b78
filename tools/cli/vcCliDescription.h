// The part description `flexalign train` reads: a JSON file naming the training image, the
// sub-models (image region, image region with mask, wireframe shapes, blank) with their engine
// and main train settings, the instances with their poses, and the run defaults. The README
// lists the fields. Errors name the file and the JSON path of the bad field.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/core/vcException.h"
#include "platform/core/vcPelBuffer.h"
#include "tools/io/vcPatternFile.h"
#include "vcFlexLimits.h"
#include "vcFlexModels.h"

// Bounds on what a description may ask for, checked as it is read.
constexpr std::uint64_t kVcMaxDescriptionBytes = 16u << 20;
constexpr int kVcMaxDescriptionDepth = 16;
// The image pieces' regions together, in training images: each region is trained, and 998
// whole-image pieces of a 400 x 300 image took 13 minutes and 1.25 GB (on a loaded machine).
constexpr long kVcMaxTrainedImages = 16;
// Keys of one JSON object: more than any object of a description has (its own fields, a
// sub-model's, the run settings'); refused as they are read, so no parse costs more.
constexpr std::size_t kVcMaxDescriptionKeys = 64;
// Pixels, a wireframe point from the piece's origin: half the widest piece either way.
constexpr double kVcMaxOutline = vcFlexLimits::kMaxPieceExtent / 2;

// What a description trains: the arrangement and its train parameters, plus what the pattern
// file keeps for runs (run parameters, start pose, instance names).
struct vcCliTrainJob {
  vcPelBuffer<unsigned char> trainImage;
  vcFlexArrangement arrangement;
  vcFlexAlignTrainParams trainParams;
  vcFlexAlignRunParams runParams;
  vcXform<2> startPose;
  std::vector<std::string> instanceNames;
  std::vector<std::string> files;  // the image files read (vfReadDescription)
};

// Images named by the description (training image, masks), by the name the file gives.
using vcCliImageLoader = std::function<vcPelBuffer<unsigned char>(const std::string& name)>;

// `source` names the description in messages. Throws vcBadParams "source: at /path: problem".
vcCliTrainJob vfParseDescription(const nlohmann::json& doc, const std::string& source,
                                 const vcCliImageLoader& load);
// Reads the file; images are found relative to its folder.
vcCliTrainJob vfReadDescription(const std::string& path);

// The JSON parser callback every reader of descriptions uses (this one, the teach server's):
// data nested deeper than kVcMaxDescriptionDepth, or an object of more than
// kVcMaxDescriptionKeys keys, is refused as it is read, before it takes memory or time.
vcBadParams vfDescriptionShapeError(const std::string& source, bool keys);
template <class Json>
typename Json::parser_callback_t vfDescriptionShape(const std::string& source) {
  auto keys = std::make_shared<std::vector<std::size_t>>();  // per open object
  return [source, keys](int depth, typename Json::parse_event_t event, Json&) {
    using E = typename Json::parse_event_t;
    if (depth > kVcMaxDescriptionDepth) throw vfDescriptionShapeError(source, false);
    if (event == E::object_start)
      keys->push_back(0);
    else if (event == E::object_end)
      keys->pop_back();
    else if (event == E::key && ++keys->back() > kVcMaxDescriptionKeys)
      throw vfDescriptionShapeError(source, true);
    return true;
  };
}

// Trains the job's pattern and keeps its run settings.
vcPatternFile vfTrainCliPattern(const vcCliTrainJob& job);
