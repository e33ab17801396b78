#include "tools/io/vcResultRecord.h"

nlohmann::json vfStatusRecord(const vcStatusView& s) {
  nlohmann::json j = {{"reason", s.reason},
                      {"text", s.text},
                      {"score", s.score},
                      {"threshold", s.threshold},
                      {"amount", s.amount}};
  if (!s.other.empty()) j["other"] = s.other;
  if (!s.window.isNull())
    j["window"] = {s.window.x(), s.window.y(), s.window.width(), s.window.height()};
  return j;
}

nlohmann::json vfPartRecord(const vcPartView& p, const std::vector<double>* displacement) {
  nlohmann::json pj = {{"found", p.found},
                       {"score", p.score},
                       {"x", p.x},
                       {"y", p.y},
                       {"angle", p.angle},
                       {"x_scale", p.xScale},
                       {"y_scale", p.yScale},
                       {"info", p.info},
                       {"status", vfStatusRecord(p.status)},
                       {"instances", nlohmann::json::array()}};
  for (const vcInstanceView& in : p.instances) {
    nlohmann::json ij = {{"name", in.name},   {"found", in.found},
                         {"x", in.x},         {"y", in.y},
                         {"angle", in.angle}, {"scale", in.scale},
                         {"score", in.score}, {"weight", in.weight},
                         {"share", in.share}, {"status", vfStatusRecord(in.status)}};
    if (in.found)
      ij.update({{"offset", in.offset},
                 {"turn", in.turn},
                 {"sigma_major", in.sigmaMajor},
                 {"sigma_minor", in.sigmaMinor},
                 {"sigma_direction", in.sigmaDirection},
                 {"angle_sigma", in.angleSigma},
                 {"angle_symmetry", in.angleSymmetry}});
    if (displacement && std::size_t(in.index) < displacement->size())
      ij["displacement"] = (*displacement)[std::size_t(in.index)];
    pj["instances"].push_back(ij);
  }
  return pj;
}

nlohmann::json vfRunRecord(const vcRunView& r) {
  nlohmann::json j = {{"image", r.image},
                      {"width", r.width},
                      {"height", r.height},
                      {"time_ms", r.ms},
                      {"found", vfRunFound(r)},
                      {"results", nlohmann::json::array()},
                      {"rejected", nlohmann::json::array()}};
  for (std::size_t i = 0; i < r.parts.size(); ++i)
    j["results"].push_back(
        vfPartRecord(r.parts[i], i < r.displacements.size() ? &r.displacements[i] : nullptr));
  for (const vcPartView& p : r.rejected) j["rejected"].push_back(vfPartRecord(p));
  if (!r.rectified.empty()) {
    const vcPelRect& g = r.rectifiedRegion;
    j["rectified"] = {{"file", r.rectified}, {"region", {g.x(), g.y(), g.width(), g.height()}}};
  }
  return j;
}

std::string vfRunRecordLine(const vcRunView& r) {
  return vfRunRecord(r).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}
