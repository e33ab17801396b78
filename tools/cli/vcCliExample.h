// The demo's part as a description a user can start from, with the images it names.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/core/vcPelBuffer.h"
#include "tools/testing/vcFlexSample.h"

struct vcCliExample {
  nlohmann::json description;
  // File name to image: the training image and the masks the description names.
  std::map<std::string, vcPelBuffer<unsigned char>> images;
};

// The sample part: its sub-models, instances and train settings, and the run settings the
// demo runs all its images with.
vcCliExample vfSampleExample(const vcFlexSample& sample);
