#include "tools/cli/vcCliRunSettings.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "tools/io/vcPose.h"

namespace {

using SD = vcFlexSubModelParamsDefs;
using FD = vcFlexAlignDefs;
using ojson = nlohmann::ordered_json;

// Numbers as a person would type them: 0.1, not 0.10000000000000009; 320, not 320.0.
ojson tidy(double v) {
  if (!std::isfinite(v)) return v;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  const double t = std::strtod(buf, nullptr);
  if (t == std::floor(t) && std::fabs(t) < 1e15) return static_cast<long long>(t);
  return t;
}

// "Angle (relative): (-4, 4)" or "Angle (relative to start pose): (-4, 4)": the range of the
// zone `name`.
bool zoneLine(const std::string& line, const std::string& name, double& lo, double& hi) {
  if (line.rfind(name + " (relative", 0) != 0) return false;
  const auto at = line.find("): (");
  return at != std::string::npos && std::sscanf(line.c_str() + at + 4, "%lf, %lf", &lo, &hi) == 2;
}

ojson range(double lo, double hi) { return ojson::array({tidy(lo), tidy(hi)}); }

ojson uncertainty(double x, double y) {
  // An infinite uncertainty leaves the bound to the search window the run cut.
  if (std::isinf(x) || std::isinf(y)) return "the search window";
  return range(x, y);
}

template <class P>
ojson piece(const P& p) {
  ojson j = {{"acceptThreshold", tidy(p.acceptThreshold())},
            {"required", p.required()},
            {"xyUncertainty", uncertainty(p.xUncertainty(), p.yUncertainty())}};
  if (p.zoneEnable() & SD::eAngle)
    j["angle"] = range(p.zoneLowRelStandard(SD::eAngle), p.zoneHighRelStandard(SD::eAngle));
  if (p.zoneEnable() & SD::eUniformScale)
    j["scale"] = range(1 + p.zoneLowRelStandard(SD::eUniformScale),
                       1 + p.zoneHighRelStandard(SD::eUniformScale));
  if constexpr (std::is_same_v<P, vcFlexSubModelGfndRunParams>)
    j["contrastThreshold"] = tidy(p.contrastThreshold());
  return j;
}

// The coarse grid a piece was trained with: its search window reaches twice that beyond the
// piece's own uncertainty.
double gridMargin(const vcFlexSubModelTrainParams& t) {
  if (const auto* g = dynamic_cast<const vcFlexSubModelGfndTrainParams*>(&t))
    return 2 * g->coarseGrainLimit();
  if (const auto* c = dynamic_cast<const vcFlexSubModelCorTrainParams*>(&t))
    return 2 * c->coarseGrainLimit();
  return 0;
}

}  // namespace

ojson vfPieceRunSettings(const vcFlexSubModelRunParams& p) {
  if (const auto* g = dynamic_cast<const vcFlexSubModelGfndRunParams*>(&p)) return piece(*g);
  if (const auto* c = dynamic_cast<const vcFlexSubModelCorRunParams*>(&p)) return piece(*c);
  return ojson{{"acceptThreshold", tidy(p.acceptThreshold())}, {"required", p.required()}};
}

ojson vfRunSettings(const vcFlexAlignRunParams& rp, const vcXform<2>& start,
                   const std::vector<std::string>& names) {
  ojson j = {{"start",
             {{"x", tidy(start.trans().x())},
              {"y", tidy(start.trans().y())},
              {"angle", tidy(vfPoseAngle(start))},
              {"scale", tidy(vfPoseScale(start))}}},
            {"numToFind", rp.numToFind()},
            {"acceptThreshold", tidy(rp.acceptThreshold())},
            {"strategy",
             rp.runStrategy() == FD::eLocallyFixturedSubModels ? "locallyFixtured" : "independent"},
            {"xyUncertainty", range(rp.xUncertainty(), rp.yUncertainty())}};
  if (rp.zoneEnable() & FD::eAngle)
    j["angle"] = range(rp.zoneLowRelStandard(FD::eAngle), rp.zoneHighRelStandard(FD::eAngle));
  if (rp.zoneEnable() & FD::eUniformScale)
    j["scale"] = range(1 + rp.zoneLowRelStandard(FD::eUniformScale),
                       1 + rp.zoneHighRelStandard(FD::eUniformScale));
  j["subModels"] = vfPieceRunSettings(rp.standard());
  ojson pieces = ojson::object();
  for (std::size_t k = 0; k < names.size(); ++k) {
    const ojson own = vfPieceRunSettings(rp.subModelInstanceParams(long(k)));
    if (own != j["subModels"]) pieces[names[k]] = own;
  }
  if (!pieces.empty()) j["pieces"] = pieces;
  return j;
}

ojson vfPieceRunSettingsFromText(const std::string& text) {
  // The lines "name = value" of the parameters' own text, the zone lines "Angle (relative...):
  // (low, high)" and the enabled zones (a bit mask, or the enumerators' names).
  std::istringstream in(text);
  std::map<std::string, std::string> value;
  double angle[2] = {0, 0}, scale[2] = {0, 0};
  bool hasAngle = false, hasScale = false, afterEnable = false;
  unsigned long enabled = 0;
  for (std::string line; std::getline(in, line);) {
    const auto first = line.find_first_not_of(' ');
    if (first == std::string::npos) continue;
    line = line.substr(first);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    if (afterEnable && !line.empty() && std::isdigit(static_cast<unsigned char>(line[0])))
      enabled = std::stoul(line);
    afterEnable = line == "zoneEnable =";
    if (line.find("::eAngle") != std::string::npos) enabled |= SD::eAngle;
    if (line.find("::eUniformScale") != std::string::npos) enabled |= SD::eUniformScale;
    hasAngle = zoneLine(line, "Angle", angle[0], angle[1]) || hasAngle;
    hasScale = zoneLine(line, "Uniform Scale", scale[0], scale[1]) || hasScale;
    const auto eq = line.find(" = ");
    if (eq != std::string::npos) value[line.substr(0, eq)] = line.substr(eq + 3);
  }
  if (!value.count("acceptThreshold") || !value.count("xUncertainty")) return ojson();
  auto number = [&](const std::string& k) { return std::strtod(value[k].c_str(), nullptr); };
  ojson j = {{"acceptThreshold", tidy(number("acceptThreshold"))},
            {"required", value["required"] == "true"},
            {"xyUncertainty", uncertainty(number("xUncertainty"), number("yUncertainty"))}};
  if (hasAngle && (enabled & SD::eAngle)) j["angle"] = range(angle[0], angle[1]);
  if (hasScale && (enabled & SD::eUniformScale)) j["scale"] = range(1 + scale[0], 1 + scale[1]);
  if (value.count("contrastThreshold")) j["contrastThreshold"] = tidy(number("contrastThreshold"));
  return j;
}

vcPieceReach vfPieceReach(const vcFlexAlignRunParams& rp, const vcFlexAlignTrainParams& train,
                          long instance, bool first) {
  const vcFlexSubModelRunParams& p = rp.subModelInstanceParams(instance);
  vcPieceReach r;
  double ux = 0, uy = 0;
  unsigned long en = 0;
  if (const auto* g = dynamic_cast<const vcFlexSubModelGfndRunParams*>(&p)) {
    ux = g->xUncertainty(), uy = g->yUncertainty(), en = g->zoneEnable();
    if (en & SD::eAngle)
      r.angleLow = g->zoneLowRelStandard(SD::eAngle),
      r.angleHigh = g->zoneHighRelStandard(SD::eAngle);
  } else if (const auto* c = dynamic_cast<const vcFlexSubModelCorRunParams*>(&p)) {
    ux = c->xUncertainty(), uy = c->yUncertainty(), en = c->zoneEnable();
    if (en & SD::eAngle)
      r.angleLow = c->zoneLowRelStandard(SD::eAngle),
      r.angleHigh = c->zoneHighRelStandard(SD::eAngle);
  }
  r.angle = en & SD::eAngle;
  if (!first) {
    const double margin = gridMargin(train.subModelInstanceParams(instance));
    r.x = ux + margin, r.y = uy + margin;
  } else {
    // The run cuts the window from the part's uncertainty and zones swept about the start
    // pose, added to the piece's own.
    r.x = ux + rp.xUncertainty(), r.y = uy + rp.yUncertainty();
    if (rp.zoneEnable() & FD::eAngle) {
      r.angleLow += rp.zoneLowRelStandard(FD::eAngle);
      r.angleHigh += rp.zoneHighRelStandard(FD::eAngle);
      r.angle = true;
    }
  }
  return r;
}

std::string vfSettingsText(const ojson& j, int indent) {
  if (j.is_array()) {
    std::string s;
    for (const ojson& e : j) s += (s.empty() ? "" : ", ") + vfSettingsText(e, indent);
    return "[" + s + "]";
  }
  if (!j.is_object()) return j.dump();
  const std::string pad(std::size_t(indent + 2), ' ');
  std::string s = "{";
  bool first = true;
  for (const auto& [key, value] : j.items()) {
    s += (first ? "\n" : ",\n") + pad + ojson(key).dump() + ": " + vfSettingsText(value, indent + 2);
    first = false;
  }
  return s + "\n" + std::string(std::size_t(indent), ' ') + "}";
}
