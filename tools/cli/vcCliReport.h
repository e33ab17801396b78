// The diagnostic reports `flexalign run --report` and the demo write: each run's records as
// the library made them, with its parameter texts replaced by the settings as a part
// description writes them, and over a run of several images an index page.
#pragma once

#include <string>
#include <vector>

#include "platform/diag/vcDiag.h"
#include "tools/io/vcPatternFile.h"
#include "tools/io/vcResultView.h"

// The records of `recorded`, each parameter text as the description's names and values: the
// part's `run` (start pose, strategy, ranges, each piece's settings by name) where the run
// recorded its parameters, and where a piece's search recorded its own, that search's settings
// (its ranges about the predicted pose, as the run widened them).
void vfReadableParams(const vcDiagObject& recorded, vcDiagObject& out, const vcPatternFile& p,
                      const vcXform<2>& start);

// One image of a run with reports: what the index page lists.
struct vcCliReportEntry {
  std::string image;   // the file, as given
  std::string folder;  // its report's folder, relative to the index page
  std::string error;   // why it did not run (empty when it ran)
  bool found = false;
  double score = -1;  // the best result's, else the closest dropped combination's; -1: none
  double ms = 0;
};
// DIR/index.html: a table of the images (found, score, run time), each linking its report.
// vcBadParams naming the file when it cannot be written.
void vfWriteCliReportIndex(const std::string& path, const std::vector<vcCliReportEntry>& images);
// The entry of an image that ran.
vcCliReportEntry vfCliReportEntry(const vcRunView& r, const std::string& folder);
