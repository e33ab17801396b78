#include "tools/cli/vcCliDescription.h"

#include <cmath>
#include <filesystem>
#include <set>

#include "platform/core/vcException.h"
#include "platform/display/vc2Wireframe.h"
#include "tools/cli/vcCliRanges.h"
#include "tools/io/vcFileBytes.h"
#include "tools/io/vcImageFile.h"
#include "tools/io/vcPose.h"
#include "tools/io/vcRunDefaults.h"

namespace {

using nlohmann::json;
using SD = vcFlexSubModelParamsDefs;
using L = vcFlexLimits;

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
  long whole(long low, long high) const {
    const double d = number(double(low), double(high));
    if (d != std::floor(d)) fail("expected a whole number");
    return long(d);
  }
  bool boolean() const {
    if (!v.is_boolean()) fail("expected true or false");
    return v.get<bool>();
  }
  std::string text() const {
    if (!v.is_string() || v.get<std::string>().empty()) fail("expected a non-empty string");
    return v.get<std::string>();
  }
  // A name the tables print: no control characters.
  std::string name() const {
    const std::string s = text();
    for (unsigned char c : s)
      if (c < 0x20 || c == 0x7f) fail("a name may not hold control characters");
    return s;
  }
  const json& array(std::size_t n = 0) const {
    if (!v.is_array()) fail("expected an array");
    if (n && v.size() != n) fail("expected " + std::to_string(n) + " elements");
    return v;
  }
  std::vector<double> numbers(std::size_t n, double low, double high) const {
    array(n);
    std::vector<double> out;
    for (std::size_t i = 0; i < n; ++i) out.push_back(at(i).number(low, high));
    return out;
  }
  vcVector<2> point(double bound) const {
    const auto p = numbers(2, -bound, bound);
    return {p[0], p[1]};
  }
  // [low, high] within the bounds, low <= high.
  std::pair<double, double> range(double low, double high, const char* what) const {
    const auto r = numbers(2, low, high);
    if (r[0] > r[1]) fail(std::string("expected [low, high] ") + what + " with low <= high");
    return {r[0], r[1]};
  }
  std::pair<double, double> angleRange() const {
    return range(-L::kMaxAngle, L::kMaxAngle, "degrees");
  }
  // Scale ranges are factors around the unscaled size: the range must hold 1. Any number within
  // the coordinate bound passes the first check, so the factor rule is what a user reads.
  std::pair<double, double> scaleRange() const {
    const auto r = numbers(2, -L::kMaxCoordinate, L::kMaxCoordinate);
    if (!(0.25 <= r[0] && r[0] <= 1 && 1 <= r[1] && r[1] <= 4))
      fail(
          "expected [low, high] scale factors with 0.25 <= low <= 1 <= high <= 4 (e.g. [0.9, "
          "1.1])");
    return {r[0], r[1]};
  }
  std::pair<double, double> uncertainty() const {
    const auto u = numbers(2, 0, L::kMaxUncertainty);
    return {u[0], u[1]};
  }
  // {"x", "y", "angle" (degrees), "scale" (factor)}: a similarity; `fallback` gives x and y
  // where they may be left out.
  vcXform<2> pose(const vcVector<2>* fallback = nullptr) const {
    only({"x", "y", "angle", "scale"});
    const double far = L::kMaxCoordinate;
    const double a = has("angle") ? at("angle").number(-L::kMaxAngle, L::kMaxAngle) : 0.0;
    const double s =
        has("scale") ? at("scale").number(1 / L::kMaxPoseScale, L::kMaxPoseScale) : 1.0;
    const double x = fallback && !has("x") ? fallback->x() : at("x").number(-far, far);
    const double y = fallback && !has("y") ? fallback->y() : at("y").number(-far, far);
    return vfPoseFrom(x, y, a, s);
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
  bool hasCentre = false;  // image kinds: the piece's origin, default pose of its instances
  vcVector<2> centre;
};

vcPelBuffer_const<unsigned char> region(const Field& f, const vcPelBuffer<unsigned char>& image,
                                        const vcVector<2>& centre) {
  const auto r = f.numbers(4, -L::kMaxCoordinate, L::kMaxCoordinate);
  for (double v : r)
    if (v != std::floor(v)) f.fail("expected whole pixel numbers");
  const std::string side = std::to_string(L::kMinRegionSide);
  if (r[2] < L::kMinRegionSide || r[3] < L::kMinRegionSide)
    f.fail("the region must be at least " + side + " x " + side + " pixels");
  if (r[0] < 0 || r[1] < 0 || r[0] + r[2] > image.width() || r[1] + r[3] > image.height())
    f.fail("the region reaches outside the " + std::to_string(image.width()) + " x " +
           std::to_string(image.height()) + " training image");
  vcPelBuffer_const<unsigned char> v = image;
  v.window(vcPelRect{long(r[0]), long(r[1]), long(r[2]), long(r[3])});
  // Sub-model coordinates are centred on the piece, so poses refer to the piece itself.
  v.clientFromImageXform(translation(-centre));
  return v;
}

// A mask of the training image's size, or of the region's: either way its pixels for the
// region, 0 leaving a pixel out.
vcPelBuffer_const<unsigned char> maskFor(const Field& f, const vcPelBuffer<unsigned char>& m,
                                         const vcPelBuffer<unsigned char>& train,
                                         const vcPelBuffer_const<unsigned char>& window) {
  const vcPelRect r = window.window();
  vcPelBuffer_const<unsigned char> mask = m;
  if (m.width() == train.width() && m.height() == train.height()) {
    mask.window(r);
  } else if (m.width() != r.width() || m.height() != r.height()) {
    f.fail("the mask must be the size of the training image (" + std::to_string(train.width()) +
           " x " + std::to_string(train.height()) + ") or of the region (" +
           std::to_string(r.width()) + " x " + std::to_string(r.height()) + "), not " +
           std::to_string(m.width()) + " x " + std::to_string(m.height()));
  } else {
    // Placed where the region lies, so mask and image share pixel coordinates.
    vcPelBuffer<unsigned char> placed(train.width(), train.height());
    for (long y = 0; y < r.height(); ++y)
      for (long x = 0; x < r.width(); ++x) placed.set(r.x() + x, r.y() + y, m.get(x, y));
    mask = placed;
    mask.window(r);
  }
  mask.clientFromImageXform(window.clientFromImageXform());
  return mask;
}

std::vector<vc2Wireframe> shapesOf(const Field& shapes) {
  if (shapes.array().empty()) shapes.fail("expected at least one shape");
  std::vector<vc2Wireframe> frames;
  double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
  for (std::size_t i = 0; i < shapes.v.size(); ++i) {
    const Field sh = shapes.at(i);
    sh.only({"points", "closed"});
    const Field pts = sh.at("points");
    if (pts.array().size() < 2) pts.fail("expected at least two points");
    vc2Wireframe w;
    for (std::size_t k = 0; k < pts.v.size(); ++k) {
      const vcVector<2> p = pts.at(k).point(kVcMaxOutline);
      x0 = std::min(x0, p.x()), y0 = std::min(y0, p.y());
      x1 = std::max(x1, p.x()), y1 = std::max(y1, p.y());
      w.insertVertex(p, -1, vcRadian(0), vcDimTol());
    }
    if (!sh.has("closed") || sh.at("closed").boolean()) w.close(vcRadian(0), vcDimTol());
    frames.push_back(w);
  }
  if (std::max(x1 - x0, y1 - y0) < 4) shapes.fail("the shapes must span at least 4 pixels");
  return frames;
}

SubModelSpec subModel(const Field& f, const vcPelBuffer<unsigned char>& train,
                      const vcCliImageLoader& load) {
  f.only({"name", "kind", "region", "centre", "mask", "shapes", "engine", "train", "run"});
  SubModelSpec s;
  const std::string name = f.at("name").name();
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
  if (kind == "image" || kind == "masked") {
    const Field rf = f.at("region");
    const auto r = rf.numbers(4, -L::kMaxCoordinate, L::kMaxCoordinate);
    s.hasCentre = true;
    s.centre = f.has("centre") ? f.at("centre").point(L::kMaxCoordinate)
                               : vcVector<2>(r[0] + r[2] / 2, r[1] + r[3] / 2);
    const auto window = region(rf, train, s.centre);
    if (kind == "image") {
      s.model = vcFlexSubModel(window, name);
    } else {
      const Field mf = f.at("mask");
      s.model = vcFlexSubModel(window, maskFor(mf, load(mf.text()), train, window), name);
    }
  } else if (kind == "wireframe") {
    if (s.engine == Engine::eCorrelation)
      f.at("engine").fail("a wireframe is searched by geofind only");
    s.model = vcFlexSubModel(shapesOf(f.at("shapes")), vc2XformLinear(), name);
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
    const auto u = f.at("xyUncertainty").uncertainty();
    p.xyUncertainty(u.first, u.second);
  }
  if (f.has("angle")) {
    const auto a = f.at("angle").angleRange();
    p.zoneEnable(p.zoneEnable() | SD::eAngle);
    p.zoneRelStandard(SD::eAngle, a.first, a.second);
  }
  if (f.has("contrastThreshold")) {
    if constexpr (std::is_same_v<P, vcFlexSubModelGfndRunParams>)
      p.contrastThreshold(f.at("contrastThreshold").number(0, 255));
    else
      f.at("contrastThreshold").fail("only a geofind sub-model has a contrast threshold");
  }
}

// One instance's run settings: the defaults, the description's defaults for every piece, then
// its sub-model's own.
vcPtrHandle<vcFlexSubModelRunParams> runParamsFor(const SubModelSpec& s, const json& defaults,
                                                  const std::string& source) {
  auto fill = [&](auto p) {
    if (!defaults.is_null()) subModelRun(Field{defaults, "/run/subModels", source}, p);
    if (!s.run.is_null()) subModelRun(Field{s.run, s.runPath, source}, p);
    return vcPtrHandle<vcFlexSubModelRunParams>(p.clone());
  };
  if (s.engine == Engine::eGeofind)
    return fill(dynamic_cast<vcFlexSubModelGfndRunParams&>(
        *vfDefaultPieceRunParams(vcFlexSubModelGfndTrainParams())));
  return fill(dynamic_cast<vcFlexSubModelCorRunParams&>(
      *vfDefaultPieceRunParams(vcFlexSubModelCorTrainParams())));
}

// Correlation models are trained for a fixed range of angles and scales: the ranges the run
// settings ask of the piece.
vcPtrHandle<vcFlexSubModelTrainParams> trainParamsFor(const SubModelSpec& s,
                                                      const vcFlexAlignRunParams& part,
                                                      const vcFlexSubModelRunParams& piece) {
  if (s.engine == Engine::eGeofind) {
    vcFlexSubModelGfndTrainParams p;
    // Outlines carry no grey levels: their edges may run either way.
    p.ignorePolarity(s.ignorePolarity || s.model.modelType() == vcFlexModelDefs::eSynthetic);
    return p.clone();
  }
  vcFlexSubModelCorTrainParams p;
  if (s.coarseGrainLimit > 0) p.coarseGrainLimit(s.coarseGrainLimit);
  const auto& run = dynamic_cast<const vcFlexSubModelCorRunParams&>(piece);
  const double angle = vfPieceReach(part, vcFlexAlignDefs::eAngle, run, SD::eAngle);
  const double scale = vfPieceReach(part, vcFlexAlignDefs::eUniformScale, run, SD::eUniformScale);
  unsigned long allowed = 0;
  if (angle > 0) allowed |= SD::eAngle;
  if (scale > 0) allowed |= SD::eUniformScale;
  p.zoneAllowed(allowed);
  if (angle > 0) p.zoneMaxRangeStandard(SD::eAngle, std::min(angle, 180.0));
  if (scale > 0) p.zoneMaxRangeStandard(SD::eUniformScale, std::min(scale, 0.75));
  return p.clone();
}

// The part's run settings over the defaults.
void partRun(const Field& run, vcFlexAlignRunParams& rp, vcXform<2>& start) {
  run.only({"start", "numToFind", "acceptThreshold", "strategy", "xyUncertainty", "angle", "scale",
            "subModels"});
  if (run.has("start")) start = run.at("start").pose();
  if (run.has("numToFind")) rp.numToFind(run.at("numToFind").whole(1, L::kMaxNumToFind));
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
    const auto u = run.at("xyUncertainty").uncertainty();
    rp.xyUncertainty(u.first, u.second);
  }
  if (run.has("angle")) {
    const auto a = run.at("angle").angleRange();
    rp.zoneEnable(rp.zoneEnable() | vcFlexAlignDefs::eAngle);
    rp.zoneRelStandard(vcFlexAlignDefs::eAngle, a.first, a.second);
  }
  if (run.has("scale")) {
    // Stored relative to 1, as the library keeps scale zones.
    const auto s = run.at("scale").scaleRange();
    rp.zoneEnable(rp.zoneEnable() | vcFlexAlignDefs::eUniformScale);
    rp.zoneRelStandard(vcFlexAlignDefs::eUniformScale, s.first - 1, s.second - 1);
  }
}

}  // namespace

vcCliTrainJob vfParseDescription(const json& doc, const std::string& source,
                                 const vcCliImageLoader& load) {
  const Field root{doc, "", source};
  root.only({"trainImage", "origin", "subModels", "instances", "run"});
  vcCliTrainJob job;
  job.trainImage = load(root.at("trainImage").text());
  const vcPelBuffer<unsigned char>& train = job.trainImage;

  const Field subs = root.at("subModels");
  if (subs.array().empty()) subs.fail("expected at least one sub-model");
  // Every sub-model is trained and stored, so their count is bounded as well.
  if (subs.v.size() > std::size_t(L::kMaxSubModels))
    subs.fail("expected at most " + std::to_string(L::kMaxSubModels) + " sub-models");
  std::vector<SubModelSpec> specs;
  std::set<std::string> names;
  for (std::size_t i = 0; i < subs.v.size(); ++i) {
    specs.push_back(subModel(subs.at(i), train, load));
    if (!names.insert(specs.back().model.name()).second)
      subs.at(i).at("name").fail("another sub-model has this name");
  }

  const Field inst = root.at("instances");
  if (inst.array().empty()) inst.fail("expected at least one instance");
  if (inst.v.size() > std::size_t(L::kMaxInstances))
    inst.fail("expected at most " + std::to_string(L::kMaxInstances) + " instances");
  std::vector<vcFlexSubModel> models;
  for (const SubModelSpec& s : specs) models.push_back(s.model);
  std::vector<long> indices;
  std::vector<vcPtrHandle_const<vc2XformBase>> positions;
  for (std::size_t i = 0; i < inst.v.size(); ++i) {
    const Field f = inst.at(i);
    f.only({"subModel", "pose"});
    const std::string name = f.at("subModel").text();
    long k = 0;
    while (k < long(specs.size()) && specs[std::size_t(k)].model.name() != name) ++k;
    if (k == long(specs.size())) f.at("subModel").fail("no sub-model is named \"" + name + "\"");
    const SubModelSpec& s = specs[std::size_t(k)];
    // An image piece placed where it lies in the training image needs no pose.
    const json none = json::object();
    const Field pose = f.has("pose") ? f.at("pose") : Field{none, f.path + "/pose", source};
    if (!f.has("pose") && !s.hasCentre) f.at("pose");  // "missing"
    indices.push_back(k);
    positions.emplace_back(new vc2XformLinear(pose.pose(s.hasCentre ? &s.centre : nullptr)));
  }

  long trained = 0;
  for (const SubModelSpec& s : specs)
    if (s.model.modelType() == vcFlexModelDefs::eImage)
      trained += s.model.image().width() * s.model.image().height();
  if (trained > kVcMaxTrainedImages * train.width() * train.height())
    subs.fail("the regions hold " + std::to_string(trained) + " pixels in all, more than " +
              std::to_string(kVcMaxTrainedImages) + " times the training image's " +
              std::to_string(train.width() * train.height()) + "; each region is trained");
  // A sub-model no instance places would be trained and stored for nothing.
  std::vector<bool> placed(specs.size(), false);
  for (long k : indices) placed[std::size_t(k)] = true;
  for (std::size_t i = 0; i < specs.size(); ++i)
    if (!placed[i])
      subs.at(i).fail("no instance places the sub-model \"" + specs[i].model.name() +
                      "\"; place it or remove it");
  try {
    job.arrangement = vcFlexArrangement(models, indices, positions);
  } catch (const vcException& e) {
    inst.fail(std::string("the arrangement is refused: ") + e.what());
  }
  if (root.has("origin"))
    job.arrangement.origin(vc2XformLinear(translation(root.at("origin").point(L::kMaxCoordinate))));
  job.instanceNames = vfDefaultInstanceNames(job.arrangement);

  // Run settings: the defaults, the part's, then each piece's over the defaults of every piece.
  const json none;
  const Field run = root.has("run") ? root.at("run") : Field{none, "/run", source};
  const json& pieceDefaults = run.has("subModels") ? run.at("subModels").v : none;
  std::size_t first = 0;  // the standard engine: the first non-blank sub-model's
  while (first + 1 < specs.size() && specs[first].model.modelType() == vcFlexModelDefs::eBlank)
    ++first;
  vcFlexAlignRunParams rp(*runParamsFor(specs[first], none, source));
  rp.runStrategy(vcFlexAlignDefs::eLocallyFixturedSubModels);
  job.startPose = job.arrangement.origin()->linearXform({0, 0}).xform();
  if (!run.v.is_null()) partRun(run, rp, job.startPose);
  std::vector<vcPtrHandle<vcFlexSubModelRunParams>> pieces;
  for (long k : indices)
    pieces.push_back(runParamsFor(specs[std::size_t(k)], pieceDefaults, source));
  rp.standard(*runParamsFor(specs[first], pieceDefaults, source));
  for (std::size_t i = 0; i < indices.size(); ++i)
    if (!pieces[i]->equal(rp.standard())) rp.custom(long(i), *pieces[i]);
  job.runParams = rp;

  // Train settings, from the engine and the ranges each piece is run with.
  job.trainParams = vcFlexAlignTrainParams(*trainParamsFor(specs[first], rp, rp.standard()));
  for (std::size_t i = 0; i < indices.size(); ++i) {
    const auto p = trainParamsFor(specs[std::size_t(indices[i])], rp, *pieces[i]);
    if (!p->equal(job.trainParams.standard())) job.trainParams.custom(long(i), *p);
  }
  // A correlation model holds angles of at most 180 degrees and scales of at most 0.75 either
  // way: a wider run range is refused here rather than at run time.
  const std::string ranges =
      vfTrainedRangeProblem(job.arrangement, job.trainParams, rp, job.instanceNames);
  if (!ranges.empty()) throw vcBadParams(source + ": " + ranges);
  return job;
}

vcBadParams vfDescriptionShapeError(const std::string& source, bool keys) {
  return vcBadParams(
      source + ": not a part description (" +
      (keys ? "an object of more than " + std::to_string(kVcMaxDescriptionKeys) + " keys"
            : "nested deeper than " + std::to_string(kVcMaxDescriptionDepth) + " levels") +
      ")");
}

vcCliTrainJob vfReadDescription(const std::string& path) {
  const std::vector<std::uint8_t> bytes = vfReadFileBytes(path, kVcMaxDescriptionBytes);
  json doc;
  // No field of a description nests deeper than a few levels; deeper data is refused as it is
  // read, before it takes memory.
  const json::parser_callback_t shallow = vfDescriptionShape<json>(path);
  try {
    doc = json::parse(bytes.begin(), bytes.end(), shallow);
  } catch (const json::exception& e) {
    // The library's text reads "[json.exception.parse_error.101] parse error at line 3, ...".
    std::string what = e.what();
    const auto at = what.find("] ");
    throw vcBadParams(
        path + ": not valid JSON: " + (at == std::string::npos ? what : what.substr(at + 2)));
  }
  const std::filesystem::path dir = std::filesystem::path(path).parent_path();
  std::vector<std::string> files;
  vcCliTrainJob job = vfParseDescription(doc, path, [&](const std::string& name) {
    const std::filesystem::path p =
        std::filesystem::path(name).is_absolute() ? std::filesystem::path(name) : dir / name;
    files.push_back(p.string());
    return vfReadImage(p.string());
  });
  job.files = files;
  return job;
}

vcPatternFile vfTrainCliPattern(const vcCliTrainJob& job) {
  vcPatternFile p;
  p.pattern.train(job.arrangement, job.trainParams);
  p.runParams = job.runParams;
  p.startPose = job.startPose;
  p.instanceNames = job.instanceNames;
  return p;
}
