// The flexible sample part and its pattern trained at its defaults, made once per test program:
// the tests of the sample only read them, and training it for each would cost seconds.
#pragma once

#include "tools/testing/vcFlexSample.h"
#include "vcFlexAlignTool.h"

namespace flex_sample_once {

inline const vcFlexSample& sample() {
  static const vcFlexSample s = vfMakeFlexSample();
  return s;
}

inline const vcFlexAlignPattern& pattern() {
  static const vcFlexAlignPattern p = [] {
    vcFlexAlignPattern pat;
    pat.train(sample().arrangement, vfFlexSampleTrainParams(sample()));
    return pat;
  }();
  return p;
}

}  // namespace flex_sample_once
