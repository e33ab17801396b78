// What a FlexAlign run gives Python: the tools' result views (tools/io/vcResultView.h),
// copied out of the library's result set, so that a Result says what `flexalign run --json`
// says, field for field, and pickles on its own (it travels between processes without the
// pattern).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "python/py_common.h"
#include "tools/io/vcResultRecord.h"
#include "tools/io/vcResultView.h"
#include "vcFlexAlignTool.h"

namespace vcpy {

// One result or dropped combination: its view, and where each piece went, for rectify (none
// for a dropped combination, and none in results pickled before they could rectify).
struct PartResult {
  vcPartView view;
  std::optional<vcFlexAlignDeformation> deformation;
};

struct RunResults {
  double time = 0;  // seconds
  long width = 0, height = 0;
  std::vector<PartResult> results;
  std::vector<PartResult> rejected;  // the best combinations the run dropped, and why
};

// The run as Python sees it; `names` names the instances as the pattern file does.
RunResults runResults(const vcFlexAlignResultSet& rs, const vcFlexArrangement& a,
                      const std::vector<std::string>& names, long width, long height);

// A JSON value as the Python object json.loads would make of it.
py::object toPython(const nlohmann::json& j);

// Result.rectify and what it returns (py_rectify.cpp).
void bindRectify(py::module_& m, py::class_<PartResult>& result);

}  // namespace vcpy
