#include "tools/cli/vcCliPieceWarnings.h"

#include <algorithm>

#include "tools/cli/vcCliText.h"
#include "vcSubModelTool.h"

namespace {

// The instances whose index in `of` is `index`.
std::vector<std::size_t> instancesOf(const std::vector<long>& of, long index) {
  std::vector<std::size_t> out;
  for (std::size_t k = 0; k < of.size(); ++k)
    if (of[k] == index) out.push_back(k);
  return out;
}

}  // namespace

std::vector<vcCliPieceWarnings> vfPieceWarnings(const vcFlexAlignPattern& p) {
  std::vector<vcCliPieceWarnings> out;
  for (std::size_t t = 0; t < p.tools().size(); ++t) {
    vcCliPieceWarnings w{instancesOf(p.instanceToTool(), long(t)), p.tools()[t].trainingWarnings()};
    if (!w.texts.empty() && !w.instances.empty()) out.push_back(std::move(w));
  }
  std::sort(out.begin(), out.end(),
            [](const auto& a, const auto& b) { return a.instances.front() < b.instances.front(); });
  return out;
}

std::vector<vcCliPieceWarnings> vfPieceWarnings(const vcCliTrainJob& job) {
  const vcFlexArrangement& a = job.arrangement;
  std::vector<vcCliPieceWarnings> out;
  for (std::size_t s = 0; s < a.subModels().size(); ++s) {
    const vcFlexSubModel& m = a.subModels()[s];
    vcCliPieceWarnings w{instancesOf(a.subModelIndices(), long(s)), {}};
    if (w.instances.empty() || m.modelType() == vcFlexModelDefs::eBlank) continue;
    vc_SubModelTool tool;
    try {
      tool.train(m, job.trainParams.subModelInstanceParams(long(w.instances.front())));
    } catch (const std::exception&) {  // `flexalign train` reports it
      continue;
    }
    w.texts = tool.trainingWarnings();
    if (!w.texts.empty()) out.push_back(std::move(w));
  }
  return out;
}

std::string vfPieceWarningSubject(const vcCliPieceWarnings& w,
                                  const std::vector<std::string>& instanceNames) {
  constexpr std::size_t kNamed = 3;
  std::string s = w.instances.size() == 1 ? "piece " : "pieces ";
  for (std::size_t i = 0; i < std::min(w.instances.size(), kNamed); ++i)
    s += (i ? ", \"" : "\"") + vfPrintable(instanceNames[w.instances[i]]) + "\"";
  if (w.instances.size() > kNamed)
    s += " and " + std::to_string(w.instances.size() - kNamed) + " more";
  return s;
}
