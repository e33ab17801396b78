#include "tools/cli/vcCliReport.h"

#include <cctype>
#include <cstdio>

#include "platform/display/vcGraphic.h"
#include "tools/cli/vcCliRunSettings.h"
#include "tools/io/vcFileBytes.h"

namespace {

// The names the library gives its parameter records and texts.
const std::string kRunParamsRecord = "FlexAlign Params";
const std::string kPieceParamsText = "Algorithm Specific Parameters";
const std::string kPieceParamsPrefix = "   Sub-Model Params";

std::string fixed(double v, int digits) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f", digits, v);
  return buf;
}

// A relative link to a folder: every byte but letters, digits and -._~/ percent-encoded, so a
// name holding '#', '?' or '%' still names its folder.
std::string linkTo(const std::string& folder) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : folder) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/')
      out += char(c);
    else
      out += std::string("%") + kHex[c >> 4] + kHex[c & 15];
  }
  return out;
}

}  // namespace

void vfReadableParams(const vcDiagObject& recorded, vcDiagObject& out, const vcPatternFile& p,
                      const vcXform<2>& start) {
  for (const auto& [key, value] : recorded.summary()) out.summary(key, value);
  for (long i = 0; i < recorded.numRecords(); ++i) {
    const vcDiagRecord& in = recorded.diagRecord(i);
    out.level(in.level());
    vcDiagRecord& r = out.newDiagRecord();
    r.recordAnnotation(in.annotation());
    if (in.hasImage()) r.image(in.image(), false);
    const bool runParams = in.annotation() == kRunParamsRecord;
    for (const vcDiagRecord::Item& it : in.items()) {
      if (it.kind == vcDiagRecord::eGraphicsItem) {
        r.graphics(it.graphics, it.coords, it.name);
      } else if (runParams && it.name == kRunParamsRecord) {
        r.text("Run settings",
               "The run settings, as a part description writes its \"run\" (\"pieces\": a "
               "piece's own where they differ from \"subModels\"):\n" +
                   vfSettingsText(vfRunSettings(p.runParams, start, p.instanceNames)));
      } else if (runParams && it.name.rfind(kPieceParamsPrefix, 0) == 0) {
        continue;  // each piece's settings are in the run settings above
      } else if (it.name == kPieceParamsText) {
        const nlohmann::ordered_json own = vfPieceRunSettingsFromText(it.text);
        if (own.is_null())
          r.text(it.name, it.text);
        else
          r.text("Search settings",
                 "This search's settings, as a part description writes a piece's \"run\" (angle "
                 "and scale about the predicted pose, as the run widened them):\n" +
                     vfSettingsText(own));
      } else {
        r.text(it.name, it.text);
      }
    }
  }
  out.level(recorded.level());
}

vcCliReportEntry vfCliReportEntry(const vcRunView& r, const std::string& folder) {
  vcCliReportEntry e;
  e.image = r.image;
  e.folder = folder;
  e.found = vfRunFound(r);
  e.ms = r.ms;
  if (!r.parts.empty())
    e.score = r.parts.front().score;
  else if (!r.rejected.empty())
    e.score = r.rejected.front().score;
  return e;
}

void vfWriteCliReportIndex(const std::string& path, const std::vector<vcCliReportEntry>& images) {
  long found = 0, errors = 0;
  std::string rows;
  for (const vcCliReportEntry& e : images) {
    found += e.found;
    errors += !e.error.empty();
    const std::string name = vfXmlEscape(e.image);
    rows += "<tr class=\"" +
            std::string(!e.error.empty() ? "error"
                        : e.found        ? "found"
                                         : "missed") +
            "\"><td>" +
            (e.error.empty() ? "<a href=\"" + linkTo(e.folder) + "/index.html\">" + name + "</a>"
                             : name) +
            "</td><td>" +
            (!e.error.empty() ? "error: " + vfXmlEscape(e.error)
             : e.found        ? std::string("found")
                              : std::string("not found")) +
            "</td><td>" + (e.score >= 0 ? fixed(e.score, 3) : std::string("-")) + "</td><td>" +
            (e.error.empty() ? fixed(e.ms, 1) : std::string("-")) + "</td></tr>\n";
  }
  const std::string summary = std::to_string(images.size()) + " images: " + std::to_string(found) +
                              " found, " + std::to_string(long(images.size()) - found - errors) +
                              " not found, " + std::to_string(errors) + " errors";
  const std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>flexalign run "
      "reports</title>\n<style>body{font:14px sans-serif;margin:1.5em}table{border-collapse:"
      "collapse}td,th{padding:.2em .8em;border-bottom:1px solid #ddd;text-align:left}"
      "tr.missed td:nth-child(2){color:#b00}tr.error td{color:#b00}</style></head>\n<body>"
      "<h1>flexalign run reports</h1>\n<p>" +
      summary +
      " (score: the best result's, or where none was found the closest combination the run "
      "dropped)</p>\n<table>\n<tr><th>image</th><th>found</th><th>score</th><th>time "
      "(ms)</th></tr>\n" +
      rows + "</table>\n</body></html>\n";
  vfWriteFileBytes(path, std::vector<std::uint8_t>(page.begin(), page.end()));
}
