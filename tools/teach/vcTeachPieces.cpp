#include "tools/teach/vcTeachPieces.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engines/correlation/vcPatCor.h"
#include "engines/geofind/vcGFAlign.h"
#include "platform/core/vcText.h"
#include "tools/cli/vcCliOverlaps.h"
#include "tools/cli/vcCliText.h"
#include "tools/io/vcImageFile.h"
#include "vcSubModelTool.h"

namespace {

using nlohmann::json;

double round2(double v) { return std::round(v * 100) / 100; }

const char* kindOf(vcFlexModelDefs::ModelType t, bool masked) {
  switch (t) {
    case vcFlexModelDefs::eBlank:
      return "blank";
    case vcFlexModelDefs::eSynthetic:
      return "wireframe";
    default:
      return masked ? "masked" : "image";
  }
}

// The fine edge points in the piece's own coordinates: the engine gives them in the pattern's
// pixel frame, which the sub-model's client transform and origin take to piece coordinates.
json edgePoints(const vcFlexSubModel& m, const vcGFAlignPattern& g) {
  const std::vector<vcVector<2>> pts = g.finePoints();
  const vcXform<2> toPiece = m.originInverse()->linearXform({0, 0}).xform() *
                             m.clientFromImage()->linearXform({0, 0}).xform();
  const std::size_t step = pts.size() / kVcTeachMaxShownPoints + 1;
  json flat = json::array();
  for (std::size_t i = 0; i < pts.size(); i += step) {
    const vcVector<2> p = toPiece.mapPoint(pts[i]);
    flat.push_back(round2(p.x()));
    flat.push_back(round2(p.y()));
  }
  return flat;
}

void geofind(json& out, const vcFlexSubModel& m, const vcGFAlignPattern& g) {
  out["points"] = edgePoints(m, g);
  const long fine = g.numFinePoints(), coarse = g.numCoarsePoints();
  out["edges"] = {{"fine", fine},
                  {"coarse", coarse},
                  {"fineGrain", g.trainedFineGrain()},
                  {"coarseGrain", g.trainedCoarseGrain()}};
  if (fine < kVcTeachFewEdges)
    out["warnings"].push_back(vfFormat(
        "only %ld edge points: with fewer than %ld a match is easily taken for clutter; take "
        "in more of the part's edges",
        fine, kVcTeachFewEdges));
  else if (coarse < kVcTeachFewCoarseEdges)
    out["warnings"].push_back(
        vfFormat("only %ld edge points at the coarse grain (%.1f px): the first search may miss "
                 "it; a larger region or a lower coarseGrainLimit helps",
                 coarse, g.trainedCoarseGrain()));
}

// The template as the engine takes it: the region's pixels, those the mask leaves out (under
// 128) chequered, so the user sees what is correlated.
void correlation(json& out, const vcFlexSubModel& m, const vc_PatCorModelU8& c) {
  const vcPelBuffer_const<unsigned char>& img = m.image();
  const vcPelBuffer_const<unsigned char>& mask = m.mask();
  vcPelBuffer<unsigned char> shown(img.width(), img.height());
  double s = 0, q = 0;
  long n = 0;
  for (long y = 0; y < img.height(); ++y)
    for (long x = 0; x < img.width(); ++x) {
      const bool in = !mask.isBound() || mask.get(x, y) >= 128;
      const unsigned char v = img.get(x, y);
      shown.set(x, y, in ? v : ((x / 4 + y / 4) % 2 ? 96 : 160));
      if (in) s += v, q += double(v) * v, ++n;
    }
  const double contrast = n ? std::sqrt(std::max(0.0, q / n - (s / n) * (s / n))) : 0.0;
  // The coarse pass correlates a reduced image; the engine keeps 6 template pixels a side.
  long f = std::max(1L, std::lround(std::max(c.sample().x(), c.sample().y())));
  while (f > 1 && (c.templateWidth() / f < 6 || c.templateHeight() / f < 6)) --f;
  out["template"] = {{"width", c.templateWidth()},
                     {"height", c.templateHeight()},
                     {"reduction", f},
                     {"contrast", round2(contrast)},
                     {"png", vfTeachPngDataUrl(vfEncodePng(shown))}};
  if (contrast < kVcTeachFlatTemplate)
    out["warnings"].push_back(
        vfFormat("the template is nearly flat (its grey levels spread %.1f): noise will place it "
                 "more than its pattern does",
                 contrast));
}

json piece(const vcCliTrainJob& job, std::size_t s) {
  const vcFlexArrangement& a = job.arrangement;
  const vcFlexSubModel& m = a.subModels()[s];
  const bool image = m.modelType() == vcFlexModelDefs::eImage;
  json out = {{"name", m.name()},
              {"kind", kindOf(m.modelType(), image && m.mask().isBound())},
              {"warnings", json::array()}};
  const auto& ix = a.subModelIndices();
  const auto first = std::find(ix.begin(), ix.end(), long(s));
  if (m.modelType() == vcFlexModelDefs::eBlank || first == ix.end()) return out;
  const vcFlexSubModelTrainParams& params =
      job.trainParams.subModelInstanceParams(long(first - ix.begin()));
  const bool cor = params.engine() == vcFlexSubModelParamsDefs::eCorrelationEngine;
  out["engine"] = cor ? "correlation" : "geofind";
  vc_SubModelTool tool;
  try {
    tool.train(m, params);
  } catch (const std::exception& e) {
    out["error"] = vfErrorText(e);
    return out;
  }
  if (tool.geofindPattern()) geofind(out, m, *tool.geofindPattern());
  for (const std::string& w : tool.trainingWarnings()) out["warnings"].push_back(w);
  if (tool.correlationModel()) correlation(out, m, *tool.correlationModel());
  return out;
}

}  // namespace

json vfTeachPieces(const vcCliTrainJob& job) {
  json out = {
      {"pieces", json::array()}, {"overlaps", json::array()}, {"instances", job.instanceNames}};
  for (std::size_t s = 0; s < job.arrangement.subModels().size(); ++s)
    out["pieces"].push_back(piece(job, s));
  // The words `flexalign train` warns with, for the first 100 pairs (1000 pieces over one
  // another are half a million).
  std::vector<vcCliOverlap> overlaps = vfOverlappingPieces(job.arrangement);
  overlaps.resize(std::min<std::size_t>(overlaps.size(), 100));
  for (const vcCliOverlap& v : overlaps) {
    const std::string& a = job.instanceNames[v.first];
    const std::string& b = job.instanceNames[v.second];
    out["overlaps"].push_back(
        {{"first", a},
         {"second", b},
         {"fraction", v.fraction},
         {"text", vfFormat("pieces \"%s\" and \"%s\" overlap by %.0f %% of the smaller region; a "
                           "run drops a piece whose match lies more than %.0f %% inside another's",
                           a.c_str(), b.c_str(), 100 * v.fraction, 100 * kVcRunOverlapLimit)}});
  }
  return out;
}

std::string vfTeachPngDataUrl(const std::string& png) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out = "data:image/png;base64,";
  out.reserve(out.size() + (png.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < png.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, png.size() - i);
    unsigned long v = 0;
    for (std::size_t k = 0; k < 3; ++k)
      v = v << 8 | (k < n ? static_cast<unsigned char>(png[i + k]) : 0);
    for (std::size_t k = 0; k < 4; ++k) out += k <= n ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}
