#include "engines/geofind/vcGFAlign.h"

#include <chrono>
#include <cmath>

#include "engines/geofind/gfModel.h"

namespace {

constexpr double kMaxCoordinate = kVcMaxCoordinate;

bool withinCoordinates(const vcVector<2>& p) {
  return std::fabs(p.x()) <= kMaxCoordinate && std::fabs(p.y()) <= kMaxCoordinate;
}

bool isSaneXform(const vcXform<2>& x) { return vfIsSaneXform(x); }

void checkRunImage(const vcPelBuffer_const<unsigned char>& window) {
  if (!isSaneXform(window.clientFromImageXform()))
    throw vcGFAlignDefs::BadImage(
        "The run image's client-from-image transform must be finite, with scales in "
        "[0.001, 1000] and a translation within 1e6");
}

void checkTrainImage(const vcPelBuffer_const<unsigned char>& image) {
  if (!image.isBound()) throw vcGFAlignDefs::BadImage("The training image is unbound");
  if (image.window().isNull())
    throw vcGFAlignDefs::BadImage("The training image has a null window");
  if (!isSaneXform(image.clientFromImageXform()))
    throw vcGFAlignDefs::BadImage(
        "The training image's client-from-image transform must be finite, with scales in "
        "[0.001, 1000] and a translation within 1e6");
}

void checkOrigin(const vcVector<2>& p) {
  if (!withinCoordinates(p))  // also refuses NaN
    throw vcGFAlignDefs::BadParams("Illegal origin value: must be finite and within 1e6");
}

void checkTrainClientFromPattern(const vcXform<2>& x) {
  if (x.matrix().isSingular())
    throw vcGFAlignDefs::BadParams("The train-client-from-pattern transform is singular");
  if (!isSaneXform(x))
    throw vcGFAlignDefs::BadParams(
        "The train-client-from-pattern transform must be finite, with scales in [0.001, 1000] "
        "and a translation within 1e6");
}

void checkAlgorithm(long a, const char* what) {
  if (a != 1 && a != 2)
    throw vcGFAlignDefs::BadParams(std::string("Illegal ") + what + " algorithm: must be 1 or 2");
}

}  // namespace

// ------------------------------------------------------------------------------ vc_GFPattern

vc_GFPattern::vc_GFPattern() = default;
vc_GFPattern::vc_GFPattern(const vc_GFPattern&) = default;
vc_GFPattern& vc_GFPattern::operator=(const vc_GFPattern&) = default;
vc_GFPattern::~vc_GFPattern() = default;

bool vc_GFPattern::isTrained() const { return model_ != nullptr; }
void vc_GFPattern::untrain() { model_.reset(); }

void vc_GFPattern::ignorePolarity(bool v) { ignorePolarity_ = v; }

void vc_GFPattern::elasticity(double v) {
  if (!(v >= 0.0)) throw vcGFAlignDefs::BadParams("Illegal elasticity value: must be >= 0");
  elasticity_ = v;
}

void vc_GFPattern::autoSelectGrainLimits(bool v) { autoSelectGrainLimits_ = v; }

void vc_GFPattern::grainLimits(float a, float b) {
  auto ok = [](float g) { return g >= 1.0f && g <= 25.5f; };
  if (!ok(a) || !ok(b))
    throw vcGFAlignDefs::BadParams("Illegal grainLimits value(s): must be >= 1.0 and <= 25.5");
  fineGrain_ = std::min(a, b);
  coarseGrain_ = std::max(a, b);
}

float vc_GFPattern::trainedFineGrain() const { return model_ ? model_->fineGrain : 0.0f; }
float vc_GFPattern::trainedCoarseGrain() const { return model_ ? model_->coarseGrain : 0.0f; }
long vc_GFPattern::trainedAlgorithm() const { return model_ ? model_->algorithm : 0; }

void vc_GFPattern::origin(const vcVector<2>& p) {
  checkOrigin(p);
  origin_ = p;
}

void vc_GFPattern::trainClientFromPattern(const vcXform<2>& x) {
  checkTrainClientFromPattern(x);
  trainClientFromPattern_ = x;
}

void vc_GFPattern::getInfo(vc_GFPatternInfo& info) const {
  if (!model_) throw vcGFAlignDefs::NotTrained("The pattern is not trained");
  if (info.request != 1) {
    info.flags = 0;
    info.value1 = info.value2 = 0.0;
    return;
  }
  vf_GFSymmetry(*model_, info);
}

const vc_GFConstraints& vc_GFPattern::constraints() const {
  if (!model_) throw vcGFAlignDefs::NotTrained("The pattern is not trained");
  return model_->constraints;
}

std::vector<std::string> vc_GFPattern::trainingWarnings() const {
  return model_ ? model_->constraints.warnings() : std::vector<std::string>();
}

long vc_GFPattern::numFinePoints() const {
  if (!model_) return 0;
  return static_cast<long>(model_->fine.size() ? model_->fine.size()
                                               : model_->levels.front().size());
}

long vc_GFPattern::numCoarsePoints() const {
  return model_ ? static_cast<long>(model_->levels.back().size()) : 0;
}

std::vector<vcVector<2>> vc_GFPattern::finePoints() const {
  std::vector<vcVector<2>> out;
  if (!model_) return out;
  const vc_GFPointSet& s = model_->fine.size() ? model_->fine : model_->levels.front();
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) out.emplace_back(s.x[i], s.y[i]);
  return out;
}

vcPelRect vc_GFPattern::trainRegion() const { return model_ ? model_->region : vcPelRect(); }

// ------------------------------------------------------------------------ vcGFAlignRunParams

vcGFAlignRunParams::vcGFAlignRunParams() = default;
vcGFAlignRunParams::vcGFAlignRunParams(const vcGFAlignRunParams&) = default;
vcGFAlignRunParams& vcGFAlignRunParams::operator=(const vcGFAlignRunParams&) = default;
vcGFAlignRunParams::~vcGFAlignRunParams() = default;

void vcGFAlignRunParams::algorithm(long a) {
  checkAlgorithm(a, "run");
  algorithm_ = a;
}

void vcGFAlignRunParams::acceptThreshold(double t) {
  if (!(t >= 0.0 && t <= 1.0))
    throw vcGFAlignDefs::BadParams("Illegal acceptThreshold value: must be >= 0.0 and <= 1.0");
  acceptThreshold_ = t;
}

void vcGFAlignRunParams::contrastThreshold(double t) {
  if (!(t >= 0.0))
    throw vcGFAlignDefs::BadParams("Illegal contrastThreshold value: must be >= 0.0");
  contrastThreshold_ = t;
}

void vcGFAlignRunParams::scoreUsingClutter(bool v) { scoreUsingClutter_ = v; }

void vcGFAlignRunParams::numToFind(long n) {
  if (n < 1) throw vcGFAlignDefs::BadParams("Illegal numToFind value: must be >= 1");
  numToFind_ = n;
}

void vcGFAlignRunParams::xyOverlap(double v) {
  if (!(v >= 0.0 && v <= 1.0))
    throw vcGFAlignDefs::BadParams("Illegal xyOverlap value: must be >= 0.0 and <= 1.0");
  xyOverlap_ = v;
}

void vcGFAlignRunParams::saveMatchInfo(bool v) { saveMatchInfo_ = v; }

void vcGFAlignRunParams::customizeDOFs(const void* dofList) {
  if (!dofList) {
    dofs_.clear();
    return;
  }
  dofs_ = *static_cast<const vcGeorapidDOFList*>(dofList);
}

void vcGFAlignRunParams::timeout(double sec) {
  if (!(sec >= 0.0)) throw vcGFAlignDefs::BadParams("Illegal timeout value: must be >= 0.0");
  timeout_ = sec;
}

void vcGFAlignRunParams::patternFrame(const vcVector<2>& origin,
                                      const vcXform<2>& trainClientFromPattern) {
  checkOrigin(origin);
  checkTrainClientFromPattern(trainClientFromPattern);
  frameOrigin_ = origin;
  frameTrainClientFromPattern_ = trainClientFromPattern;
  hasPatternFrame_ = true;
}

void vcGFAlignRunParams::prediction(const vcVector<2>& position, double ux, double uy) {
  if (!std::isfinite(position.x()) || !std::isfinite(position.y()))
    throw vcGFAlignDefs::BadParams("Illegal prediction: the position must be finite");
  if (!(ux >= 0.0 && uy >= 0.0 && std::isfinite(ux) && std::isfinite(uy)))
    throw vcGFAlignDefs::BadParams("Illegal prediction: the uncertainty must be finite and >= 0");
  predicted_ = position;
  predictUx_ = ux;
  predictUy_ = uy;
  hasPrediction_ = true;
}

// --------------------------------------------------------------------------- results

double vcGFAlignResult::dofValue(long index) const {
  if (index < 1 || index > numDOFs())
    throw vcGFAlignDefs::BadParams("DOF index out of range: must be 1 .. numDOFs()");
  return dofValues_[static_cast<std::size_t>(index - 1)];
}

std::vector<vcVector<2>> vcGFAlignResult::matchRegionCorners() const {
  return {matchRegion_.mapPoint({0, 0}), matchRegion_.mapPoint({1, 0}),
          matchRegion_.mapPoint({1, 1}), matchRegion_.mapPoint({0, 1})};
}

const vcGFAlignResult& vcGFAlignResultSet::operator[](long i) const {
  if (i < 0 || i >= numFound())
    throw vcGFAlignDefs::BadParams("Result index out of range: must be 0 .. numFound() - 1");
  return results_[static_cast<std::size_t>(i)];
}

// -------------------------------------------------------------------------- vcGFAlignPattern

vcGFAlignPattern::vcGFAlignPattern() = default;
vcGFAlignPattern::vcGFAlignPattern(const vcGFAlignPattern&) = default;
vcGFAlignPattern& vcGFAlignPattern::operator=(const vcGFAlignPattern&) = default;
vcGFAlignPattern::~vcGFAlignPattern() = default;

namespace {

vc_GFTrainSettings settingsOf(const vc_GFPattern& p, long algorithm) {
  vc_GFTrainSettings s;
  s.ignorePolarity = p.ignorePolarity();
  s.elasticity = p.elasticity();
  s.autoSelect = p.autoSelectGrainLimits();
  s.fineGrain = p.fineGrainLimit();
  s.coarseGrain = p.coarseGrainLimit();
  s.algorithm = algorithm;
  s.blurredScales = p.trainBlurredScales();
  return s;
}

// A trained model with its constraint analysis.
std::shared_ptr<const vc_GFModel> analysed(std::shared_ptr<vc_GFModel> m) {
  m->constraints = vf_GFConstraints(*m);
  return m;
}

}  // namespace

void vcGFAlignPattern::train(const vcPelBuffer_const<unsigned char>& image,
                             const vcPelBuffer_const<unsigned char>& mask, long algorithm,
                             vcDiagObject*, unsigned long) {
  checkAlgorithm(algorithm, "train");
  checkTrainImage(image);
  if (!mask.isBound()) throw vcGFAlignDefs::BadImage("The training mask is unbound");
  if (mask.width() != image.width() || mask.height() != image.height())
    throw vcGFAlignDefs::BadImage("The training mask size does not match the image size");
  model_.reset();
  model_ = analysed(vf_GFTrainImage(image, &mask, settingsOf(*this, algorithm)));
}

void vcGFAlignPattern::train(const vcPelBuffer_const<unsigned char>& image, long algorithm,
                             vcDiagObject*, unsigned long) {
  checkAlgorithm(algorithm, "train");
  checkTrainImage(image);
  model_.reset();
  model_ = analysed(vf_GFTrainImage(image, nullptr, settingsOf(*this, algorithm)));
}

void vcGFAlignPattern::trainPolylines(const std::vector<std::vector<vcVector<2>>>& polylines,
                                      const std::vector<bool>& closed,
                                      const std::vector<double>& weights,
                                      const vcXform<2>& clientFromImage, long algorithm) {
  checkAlgorithm(algorithm, "train");
  if (polylines.empty()) throw vcGFAlignDefs::BadParams("No shapes are given");
  if (weights.size() != polylines.size() || closed.size() != polylines.size())
    throw vcGFAlignDefs::BadParams("The number of weights does not match the number of shapes");
  if (clientFromImage.matrix().isSingular())
    throw vcGFAlignDefs::BadParams("The client-from-image transform is singular");
  if (!isSaneXform(clientFromImage))
    throw vcGFAlignDefs::BadParams(
        "The client-from-image transform must be finite, with scales in [0.001, 1000] and a "
        "translation within 1e6");
  const vcXform<2> imageFromClient = clientFromImage.inverse();
  std::vector<vc_GFSegmentChain> chains;
  for (std::size_t i = 0; i < polylines.size(); ++i) {
    if (!std::isfinite(weights[i]) || std::fabs(weights[i]) > 1.0)
      throw vcGFAlignDefs::BadParams("Shape weights must lie in [-1, 1]");
    vc_GFSegmentChain c;
    c.closed = closed[i];
    c.weight = weights[i];
    for (const vcVector<2>& v : polylines[i]) c.vertices.push_back(imageFromClient.mapPoint(v));
    chains.push_back(std::move(c));
  }
  model_.reset();
  model_ = analysed(vf_GFTrainChains(chains, clientFromImage, settingsOf(*this, algorithm)));
}

void vcGFAlignPattern::run(const vcPelBuffer_const<unsigned char>& window,
                           const vcGFAlignRunParams& params, vcGFAlignResultSet& results,
                           vcDiagObject*, unsigned long) const {
  if (!model_) throw vcGFAlignDefs::NotTrained("The pattern is not trained");
  if (!window.isBound()) throw vcGFAlignDefs::BadImage("The run image is unbound");
  if (window.window().isNull()) throw vcGFAlignDefs::BadImage("The run image window is null");
  if (!window.entire().contains(window.window()))
    throw vcGFAlignDefs::BadImage("The run window lies outside the image");
  checkRunImage(window);
  const auto t0 = std::chrono::steady_clock::now();
  vf_GFRun(*model_, patternFromTrainPixel_(params), window, nullptr, params, results);
  results.runTime_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void vcGFAlignPattern::run(const vcPelBuffer_const<unsigned char>& window,
                           const vcPelBuffer_const<unsigned char>& mask,
                           const vcGFAlignRunParams& params, vcGFAlignResultSet& results,
                           vcDiagObject* diag, unsigned long flags) const {
  if (!mask.isBound()) {
    run(window, params, results, diag, flags);
    return;
  }
  if (!model_) throw vcGFAlignDefs::NotTrained("The pattern is not trained");
  if (!window.isBound()) throw vcGFAlignDefs::BadImage("The run image is unbound");
  if (window.window().isNull()) throw vcGFAlignDefs::BadImage("The run image window is null");
  if (!window.entire().contains(window.window()))
    throw vcGFAlignDefs::BadImage("The run window lies outside the image");
  if (mask.width() != window.width() || mask.height() != window.height())
    throw vcGFAlignDefs::BadImage("The run mask size does not match the run window");
  checkRunImage(window);
  const auto t0 = std::chrono::steady_clock::now();
  vf_GFRun(*model_, patternFromTrainPixel_(params), window, &mask, params, results);
  results.runTime_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

vcXform<2> vcGFAlignPattern::patternFromTrainPixel_(const vcGFAlignRunParams& params) const {
  const bool own = !params.hasPatternFrame();
  const vcVector<2>& origin = own ? origin_ : params.frameOrigin();
  const vcXform<2>& trainClientFromPattern =
      own ? trainClientFromPattern_ : params.frameTrainClientFromPattern();
  // pattern point q (origin-relative) <- trainClientFromPattern^-1 <- clientFromImage
  const vcXform<2> shift(vcMatrix<2>(), -origin);
  return shift * trainClientFromPattern.inverse() * model_->clientFromImage;
}
