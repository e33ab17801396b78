// The part description `flexalign train` reads: a JSON file naming the training image, the
// sub-models (image region, image region with mask, wireframe shapes, blank) with their engine
// and main train settings, the instances with their poses, and the run defaults. The README
// lists the fields. Errors name the file and the JSON path of the bad field.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/core/vcPelBuffer.h"
#include "tools/common/vcPatternFile.h"
#include "vcFlexModels.h"

// Bounds on what a description may ask for, checked as it is read.
constexpr std::uint64_t kVcMaxDescriptionBytes = 16u << 20;
constexpr int kVcMaxDescriptionDepth = 16;
constexpr std::size_t kVcMaxInstances = 1000;
constexpr double kVcMaxUncertainty = 1e5;  // pixels, a search's x and y uncertainty
constexpr double kVcMaxOutline = 2048;     // pixels, a wireframe point from the piece's origin

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

// Trains the job's pattern and keeps its run settings.
vcPatternFile vfTrainCliPattern(const vcCliTrainJob& job);
