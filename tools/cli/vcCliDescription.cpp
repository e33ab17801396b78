#include "tools/cli/vcCliDescription.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/core/vcException.h"
#include "platform/display/vc2Wireframe.h"
#include "tools/common/vcImageFile.h"

namespace {

using nlohmann::json;
constexpr double kPi = 3.14159265358979323846;

// A field of the document with its JSON path, so every complaint can say where it is.
struct Field {
  const json& v;
  std::string path;
  const std::string& source;

  [[noreturn]] void fail(const std::string& problem) const {
    throw vcBadParams(source + ": at " + (path.empty() ? "/" : path) + ": " + problem);
  }
  bool has(const char* key) const { return v.is_object() && v.contains(key); }
  Field at(const char* key) const {
    if (!v.is_object()) fail("expected an object");
    if (!v.contains(key)) Field{v, path + "/" + key, source}.fail("missing");
    return Field{v.at(key), path + "/" + key, source};
  }
  Field at(std::size_t i) const { return Field{v.at(i), path + "/" + std::to_string(i), source}; }
  // Refuses keys the reader does not know: a misspelt setting must not be ignored silently.
  void only(std::initializer_list<const char*> keys) const {
    if (!v.is_object()) fail("expected an object");
    for (auto it = v.begin(); it != v.end(); ++it) {
      bool known = false;
      for (const char* k : keys) known = known || it.key() == k;
      if (!known) Field{it.value(), path + "/" + it.key(), source}.fail("unknown field");
    }
  }
  double number() const {
    if (!v.is_number()) fail("expected a number");
    const double d = v.get<double>();
    if (!std::isfinite(d)) fail("expected a finite number");
    return d;
  }
  double number(double low, double high) const {
    const double d = number();
    if (d < low || d > high)
      fail("expected a number from " + json(low).dump() + " to " + json(high).dump());
    return d;
  }
  bool boolean() const {
    if (!v.is_boolean()) fail("expected true or false");
    return v.get<bool>();
  }
  std::string text() const {
    if (!v.is_string() || v.get<std::string>().empty()) fail("expected a non-empty string");
    return v.get<std::string>();
  }
  const json& array(std::size_t n = 0) const {
    if (!v.is_array()) fail("expected an array");
    if (n && v.size() != n) fail("expected " + std::to_string(n) + " elements");
    return v;
  }
  std::vector<double> numbers(std::size_t n) const {
    array(n);
    std::vector<double> out;
    for (std::size_t i = 0; i < n; ++i) out.push_back(at(i).number());
    return out;
  }
  vcVector<2> point() const {
    const auto p = numbers(2);
    return {p[0], p[1]};
  }
  // {"x", "y", "angle" (degrees), "scale"}: a similarity.
  vcXform<2> pose() const {
    only({"x", "y", "angle", "scale"});
    const double a = has("angle") ? at("angle").number() * kPi / 180.0 : 0.0;
    const double s = has("scale") ? at("scale").number(1e-3, 1e3) : 1.0;
    return vcXform<2>(
        vcMatrix<2>(s * std::cos(a), -s * std::sin(a), s * std::sin(a), s * std::cos(a)),
        vcVector<2>(at("x").number(), at("y").number()));
  }
};

vcXform<2> translation(const vcVector<2>& t) { return vcXform<2>(vcMatrix<2>(), t); }

enum class Engine { eGeofind, eCorrelation };

struct SubModelSpec {
  vcFlexSubModel model;
  Engine engine = Engine::eGeofind;
  bool ignorePolarity = false;
  double coarseGrainLimit = 0;  // 0: the engine's choice
  json run;                     // per-sub-model run settings, applied over the defaults
  std::string runPath;
};

vcPelBuffer_const<unsigned char> region(const Field& f, const vcPelBuffer<unsigned char>& image,
                                        const vcVector<2>& centre) {
  const auto r = f.numbers(4);
  for (double v : r)
    if (v != std::floor(v)) f.fail("expected whole pixel numbers");
  const vcPelRect rect{long(r[0]), long(r[1]), long(r[2]), long(r[3])};
  if (r[2] < 4 || r[3] < 4) f.fail("the region must be at least 4 x 4 pixels");
  if (r[0] < 0 || r[1] < 0 || r[0] + r[2] > image.width() || r[1] + r[3] > image.height())
    f.fail("the region reaches outside the " + std::to_string(image.width()) + " x " +
           std::to_string(image.height()) + " training image");
  vcPelBuffer_const<unsigned char> v = image;
  v.window(rect);
  // Sub-model coordinates are centred on the piece, so poses refer to the piece itself.
  v.clientFromImageXform(translation(-centre));
  return v;
}

SubModelSpec subModel(const Field& f, const vcPelBuffer<unsigned char>& train,
                      const vcCliImageLoader& load) {
  f.only({"name", "kind", "region", "centre", "mask", "shapes", "engine", "train", "run"});
  SubModelSpec s;
  const std::string name = f.at("name").text();
  const std::string kind = f.at("kind").text();
  if (f.has("engine")) {
    const std::string e = f.at("engine").text();
    if (e == "geofind")
      s.engine = Engine::eGeofind;
    else if (e == "correlation")
      s.engine = Engine::eCorrelation;
    else
      f.at("engine").fail("expected \"geofind\" or \"correlation\"");
  }
  if (f.has("train")) {
    const Field t = f.at("train");
    t.only({"ignorePolarity", "coarseGrainLimit"});
    if (t.has("ignorePolarity")) s.ignorePolarity = t.at("ignorePolarity").boolean();
    if (t.has("coarseGrainLimit")) s.coarseGrainLimit = t.at("coarseGrainLimit").number(1, 16);
  }
  if (f.has("run")) {
    s.run = f.at("run").v;
    s.runPath = f.path + "/run";
  }
  auto centreOf = [&](const Field& rf) {
    if (f.has("centre")) return f.at("centre").point();
    const auto r = rf.numbers(4);
    return vcVector<2>(r[0] + r[2] / 2, r[1] + r[3] / 2);
  };
  if (kind == "image" || kind == "masked") {
    const Field rf = f.at("region");
    const vcVector<2> c = centreOf(rf);
    const auto window = region(rf, train, c);
    if (kind == "image") {
      s.model = vcFlexSubModel(window, name);
    } else {
      const Field mf = f.at("mask");
      vcPelBuffer<unsigned char> m = load(mf.text());
      if (m.width() != train.width() || m.height() != train.height())
        mf.fail("the mask must be the size of the training image");
      vcPelBuffer_const<unsigned char> mask = m;
      mask.window(window.window());
      mask.clientFromImageXform(window.clientFromImageXform());
      s.model = vcFlexSubModel(window, mask, name);
    }
  } else if (kind == "wireframe") {
    const Field shapes = f.at("shapes");
    if (shapes.array().empty()) shapes.fail("expected at least one shape");
    std::vector<vc2Wireframe> frames;
    for (std::size_t i = 0; i < shapes.v.size(); ++i) {
      const Field sh = shapes.at(i);
      sh.only({"points", "closed"});
      const Field pts = sh.at("points");
      if (pts.array().size() < 2) pts.fail("expected at least two points");
      vc2Wireframe w;
      for (std::size_t k = 0; k < pts.v.size(); ++k)
        w.insertVertex(pts.at(k).point(), -1, vcRadian(0), vcDimTol());
      if (!sh.has("closed") || sh.at("closed").boolean()) w.close(vcRadian(0), vcDimTol());
      frames.push_back(w);
    }
    s.model = vcFlexSubModel(frames, vc2XformLinear(), name);
  } else if (kind == "blank") {
    s.model = vcFlexSubModel(name);
  } else {
    f.at("kind").fail("expected \"image\", \"masked\", \"wireframe\" or \"blank\"");
  }
  return s;
}

// The run settings a sub-model's search takes, on either engine's parameter class.
template <class P>
void subModelRun(const Field& f, P& p) {
  f.only({"acceptThreshold", "required", "xyUncertainty", "angle", "contrastThreshold"});
  if (f.has("acceptThreshold")) p.acceptThreshold(f.at("acceptThreshold").number(0, 1));
  if (f.has("required")) p.required(f.at("required").boolean());
  if (f.has("xyUncertainty")) {
    const auto u = f.at("xyUncertainty").numbers(2);
    if (u[0] < 0 || u[1] < 0) f.at("xyUncertainty").fail("expected two numbers >= 0");
    p.xyUncertainty(u[0], u[1]);
  }
  if (f.has("angle")) {
    const auto a = f.at("angle").numbers(2);
    if (a[0] > a[1] || a[0] < -180 || a[1] > 180)
      f.at("angle").fail("expected [low, high] degrees within -180 .. 180");
    p.zoneEnable(p.zoneEnable() | vcFlexSubModelParamsDefs::eAngle);
    p.zoneRelStandard(vcFlexSubModelParamsDefs::eAngle, a[0], a[1]);
  }
  if (f.has("contrastThreshold")) {
    if constexpr (std::is_same_v<P, vcFlexSubModelGfndRunParams>)
      p.contrastThreshold(f.at("contrastThreshold").number(0, 255));
    else
      f.at("contrastThreshold").fail("only a geofind sub-model has a contrast threshold");
  }
}

vcPtrHandle<vcFlexSubModelRunParams> runParamsFor(Engine e, const json& defaults,
                                                  const std::string& defaultsPath,
                                                  const SubModelSpec* own,
                                                  const std::string& source) {
  auto fill = [&](auto p) {
    if (!defaults.is_null()) subModelRun(Field{defaults, defaultsPath, source}, p);
    if (own && !own->run.is_null()) subModelRun(Field{own->run, own->runPath, source}, p);
    return vcPtrHandle<vcFlexSubModelRunParams>(p.clone());
  };
  if (e == Engine::eGeofind) return fill(vcFlexSubModelGfndRunParams());
  return fill(vcFlexSubModelCorRunParams());
}

vcPtrHandle<vcFlexSubModelTrainParams> trainParamsFor(const SubModelSpec& s) {
  if (s.engine == Engine::eGeofind) {
    vcFlexSubModelGfndTrainParams p;
    // Outlines carry no grey levels: their edges may run either way.
    p.ignorePolarity(s.ignorePolarity || s.model.modelType() == vcFlexModelDefs::eSynthetic);
    return vcPtrHandle<vcFlexSubModelTrainParams>(p.clone());
  }
  vcFlexSubModelCorTrainParams p;
  if (s.coarseGrainLimit > 0) p.coarseGrainLimit(s.coarseGrainLimit);
  return vcPtrHandle<vcFlexSubModelTrainParams>(p.clone());
}

}  // namespace

vcCliTrainJob vfParseDescription(const json& doc, const std::string& source,
                                 const vcCliImageLoader& load) {
  const Field root{doc, "", source};
  root.only({"trainImage", "origin", "subModels", "instances", "run"});
  const vcPelBuffer<unsigned char> train = load(root.at("trainImage").text());

  const Field subs = root.at("subModels");
  if (subs.array().empty()) subs.fail("expected at least one sub-model");
  std::vector<SubModelSpec> specs;
  std::set<std::string> names;
  for (std::size_t i = 0; i < subs.v.size(); ++i) {
    specs.push_back(subModel(subs.at(i), train, load));
    if (!names.insert(specs.back().model.name()).second)
      subs.at(i).at("name").fail("another sub-model has this name");
  }

  const Field inst = root.at("instances");
  if (inst.array().empty()) inst.fail("expected at least one instance");
  std::vector<vcFlexSubModel> models;
  for (const SubModelSpec& s : specs) models.push_back(s.model);
  std::vector<long> indices;
  std::vector<vcPtrHandle_const<vc2XformBase>> positions;
  std::vector<std::string> instanceNames;
  std::vector<int> seen(specs.size(), 0);
  for (std::size_t i = 0; i < inst.v.size(); ++i) {
    const Field f = inst.at(i);
    f.only({"subModel", "pose"});
    const std::string name = f.at("subModel").text();
    long k = 0;
    while (k < long(specs.size()) && specs[std::size_t(k)].model.name() != name) ++k;
    if (k == long(specs.size())) f.at("subModel").fail("no sub-model is named \"" + name + "\"");
    indices.push_back(k);
    positions.emplace_back(new vc2XformLinear(f.at("pose").pose()));
    ++seen[std::size_t(k)];
    instanceNames.push_back(name);
  }
  // Repeated sub-models get numbered instance names ("key 1", "key 2", ...).
  std::vector<int> counter(specs.size(), 0);
  for (std::size_t i = 0; i < indices.size(); ++i)
    if (seen[std::size_t(indices[i])] > 1)
      instanceNames[i] += " " + std::to_string(++counter[std::size_t(indices[i])]);

  vcCliTrainJob job;
  try {
    job.arrangement = vcFlexArrangement(models, indices, positions);
  } catch (const vcException& e) {
    inst.fail(std::string("the arrangement is refused: ") + e.what());
  }
  if (root.has("origin"))
    job.arrangement.origin(vc2XformLinear(translation(root.at("origin").point())));
  job.instanceNames = instanceNames;

  // Train parameters: the first non-blank sub-model's engine is the standard; others custom.
  std::size_t first = 0;
  while (first + 1 < specs.size() && specs[first].model.modelType() == vcFlexModelDefs::eBlank)
    ++first;
  job.trainParams = vcFlexAlignTrainParams(*trainParamsFor(specs[first]));
  for (std::size_t i = 0; i < indices.size(); ++i) {
    const auto p = trainParamsFor(specs[std::size_t(indices[i])]);
    if (!p->equal(job.trainParams.standard())) job.trainParams.custom(long(i), *p);
  }

  // Run defaults.
  const json none;
  const Field run = root.has("run") ? root.at("run") : Field{none, "/run", source};
  json subDefaults;
  std::string subPath = "/run/subModels";
  vcFlexAlignRunParams rp(*runParamsFor(specs[first].engine, none, subPath, nullptr, source));
  job.startPose = job.arrangement.origin()->linearXform({0, 0}).xform();
  if (!run.v.is_null()) {
    run.only({"start", "numToFind", "acceptThreshold", "strategy", "xyUncertainty", "angle",
              "scale", "subModels"});
    if (run.has("subModels")) subDefaults = run.at("subModels").v;
    if (run.has("start")) job.startPose = run.at("start").pose();
    if (run.has("numToFind")) {
      const double n = run.at("numToFind").number(1, 1000);
      if (n != std::floor(n)) run.at("numToFind").fail("expected a whole number");
      rp.numToFind(long(n));
    }
    if (run.has("acceptThreshold")) rp.acceptThreshold(run.at("acceptThreshold").number(0, 1));
    if (run.has("strategy")) {
      const std::string s = run.at("strategy").text();
      if (s == "locallyFixtured")
        rp.runStrategy(vcFlexAlignDefs::eLocallyFixturedSubModels);
      else if (s == "independent")
        rp.runStrategy(vcFlexAlignDefs::eIndependentSubModels);
      else
        run.at("strategy").fail("expected \"locallyFixtured\" or \"independent\"");
    }
    if (run.has("xyUncertainty")) {
      const auto u = run.at("xyUncertainty").numbers(2);
      if (u[0] < 0 || u[1] < 0) run.at("xyUncertainty").fail("expected two numbers >= 0");
      rp.xyUncertainty(u[0], u[1]);
    }
    unsigned long zones = rp.zoneEnable();
    if (run.has("angle")) {
      const auto a = run.at("angle").numbers(2);
      if (a[0] > a[1] || a[0] < -180 || a[1] > 180)
        run.at("angle").fail("expected [low, high] degrees within -180 .. 180");
      rp.zoneEnable(zones |= vcFlexAlignDefs::eAngle);
      rp.zoneRelStandard(vcFlexAlignDefs::eAngle, a[0], a[1]);
    }
    if (run.has("scale")) {
      const auto s = run.at("scale").numbers(2);
      if (s[0] > s[1] || s[0] <= -1 || s[1] > 10)
        run.at("scale").fail("expected [low, high] relative scale changes above -1");
      rp.zoneEnable(zones |= vcFlexAlignDefs::eUniformScale);
      rp.zoneRelStandard(vcFlexAlignDefs::eUniformScale, s[0], s[1]);
    }
  }
  rp.standard(*runParamsFor(specs[first].engine, subDefaults, subPath, nullptr, source));
  for (std::size_t i = 0; i < indices.size(); ++i) {
    const SubModelSpec& s = specs[std::size_t(indices[i])];
    const auto p = runParamsFor(s.engine, subDefaults, subPath, &s, source);
    if (!p->equal(rp.standard())) rp.custom(long(i), *p);
  }
  job.runParams = rp;
  return job;
}

vcCliTrainJob vfReadDescription(const std::string& path) {
  std::ifstream f(path);
  if (!f) throw vcBadParams(path + ": cannot open the file");
  json doc;
  try {
    doc = json::parse(f);
  } catch (const json::parse_error& e) {
    // The library's text reads "[json.exception.parse_error.101] parse error at line 3, ...".
    std::string what = e.what();
    const auto at = what.find("] ");
    throw vcBadParams(
        path + ": not valid JSON: " + (at == std::string::npos ? what : what.substr(at + 2)));
  }
  const std::filesystem::path dir = std::filesystem::path(path).parent_path();
  return vfParseDescription(doc, path, [&](const std::string& name) {
    const std::filesystem::path p =
        std::filesystem::path(name).is_absolute() ? std::filesystem::path(name) : dir / name;
    return vfReadImage(p.string());
  });
}

vcPatternFile vfTrainCliPattern(const vcCliTrainJob& job) {
  vcPatternFile p;
  p.pattern.train(job.arrangement, job.trainParams);
  p.runParams = job.runParams;
  p.startPose = job.startPose;
  p.instanceNames = job.instanceNames;
  return p;
}
