// Geofind: geometric (edge-based) pattern location.
//
// Training extracts sub-pixel edge points with gradient directions from an 8-bit image (or
// synthesises them along weighted wireframes) at a coarse and a fine grain. A run searches an
// image pyramid over translation and the DOF ranges of a vcGeorapidDOFList with a
// gradient-direction similarity, tracks candidates down the pyramid and refines each by least
// squares on matched edge points.
//
// Frames: the pattern frame is the training client frame seen through trainClientFromPattern
// (identity by default), shifted so that origin() is the pattern's reference point. A result
// pose maps pattern coordinates to the run image's client coordinates.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/core/vcException.h"
#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcPelRect.h"
#include "platform/core/vcVector.h"
#include "platform/core/vcXform.h"
#include "platform/diag/vcDiagFwd.h"
#include "vcGeorapidDOF.h"

class vc2Wireframe;
class vcArchive;
class vcGraphicList;
class vcGFAlignPattern;
struct vc_GFModel;
struct vc_GFImageData;
class vcThreadPool;

// Engine errors. Every failure carries a message stating the violated rule.
struct vcGFAlignDefs {
  class Errors : public vcExceptionWithString {
   public:
    explicit Errors(const std::string& msg = std::string()) : vcExceptionWithString(msg) {}
  };
  class BadParams : public Errors {
   public:
    using Errors::Errors;
  };
  class BadImage : public Errors {
   public:
    using Errors::Errors;
  };
  class NotTrained : public Errors {
   public:
    using Errors::Errors;
  };
  class CanNotTrain : public Errors {
   public:
    using Errors::Errors;
  };

  // Low byte of vc_GFPatternInfo::flags after a symmetry request.
  enum SymmetryFlags : unsigned long {
    eSym180 = 0x01,          // maps onto itself turned by 180 degrees
    eSym90 = 0x02,           // ... by 90 degrees
    eSymMirrorX = 0x04,      // mirror image about the pattern's x axis (through its centre)
    eSymMirrorY = 0x08,      // ... about its y axis
    eSymMirrorDiag = 0x10,   // ... about a diagonal (45 or 135 degrees)
    eSymRotN = 0x20,         // maps onto itself turned by 360/n degrees for some n = 3, 5, 6 or 8
    eSymMirrorOther = 0x40,  // mirror image about some other axis
    eSymCircle = 0x80,       // maps onto itself under every rotation
  };
};

// Information about a trained pattern. Set `request` to 1 to ask for symmetry: `flags` gets
// the SymmetryFlags found, `value1` the smallest rotation in degrees that maps the pattern onto
// itself (0 for a circle, 360 when none), `value2` the self-similarity score (0..1) at that
// rotation. Other requests clear the flags and leave the numbers 0.
struct vc_GFPatternInfo {
  unsigned char request = 1;
  double value1 = 0.0;
  double value2 = 0.0;
  unsigned long flags = 0;
};

// What a trained pattern's edges fix, from the directions of their normals: the level-0 points
// that measure a match, in training pixels, each of weight w.
//
// Position: a fit of the points to their edges, each off by independent noise s along its normal
// n, has the position covariance s^2 S^-1 with S = sum w n n^T. S's eigenvector of the larger
// eigenvalue is the direction the edges fix best, the other the one they fix worst (along which
// a pencil or a bar slides); 1 / sqrt(eigenvalue) is the 1-sigma error along each per pixel of
// edge noise.
// Angle: a turn by t about the centroid c moves point p by t (p - c) x n along its normal, so
// the angle's information is L = sum w ((p - c) x n)^2 and 1 / sqrt(L) radians its 1-sigma
// error per pixel of edge noise. A circle's normals pass through its centre: L = 0.
// Symmetry: the smallest turn, 360 / n degrees, that maps the edges onto themselves (the model
// matched against itself turned); a circle maps onto itself under every turn, and so, to a fit,
// does a pattern whose edges nearly all face its centre (see kVcGFRoundShare).
struct vc_GFConstraints {
  vcVector<2> centre;                // c, training pixels
  double sxx = 0, sxy = 0, syy = 0;  // S
  double leverage = 0;               // L, pixels^2
  double spread = 0;                 // sum w |p - c|^2, the bound of L, pixels^2
  long symmetry = 1;                 // n: the angle is defined modulo 360 / n; 1 none, 0 circle

  // Directions in degrees in [0, 180), from the training image's x axis towards its y axis.
  double strongDirection() const;
  double weakDirection() const;
  // 1-sigma position error along each direction per pixel of edge noise, in pixels.
  double strongSigma() const;
  double weakSigma() const;
  // S's smaller eigenvalue over its larger: 0 for edges that all run one way, 1 for edges that
  // fix every direction alike (a circle, a square).
  double weakShare() const;
  // 1-sigma angle error per pixel of edge noise, in degrees; infinite without leverage.
  double angleSigma() const;
  // L over its bound: 0 for a circle's edges, near 1 for edges that all face across the radius.
  double angleShare() const;
  // The training warnings these call for, in fixed words: a direction the edges barely fix, a
  // round pattern, an n-fold symmetric one.
  std::vector<std::string> warnings() const;
};

// weakShare() under this: the edges fix one direction less than a third as well (in 1-sigma
// terms) as the other, and training warns that the pattern can slide along it.
constexpr double kVcGFWeakShare = 0.1;
// angleShare() under this: nearly every edge faces the centre (a coin's rim outweighing its
// relief), so the edges fix the angle less than a fifth as well (in 1-sigma terms, at the
// edges' mean radius) as a pattern whose edges all face across the radius (angleShare 1) or a
// square (0.2); a pattern that no turn maps onto itself counts as round (symmetry 0) below it.
constexpr double kVcGFRoundShare = 0.05;

// Training settings and the trained model.
class vc_GFPattern {
 public:
  vc_GFPattern();
  vc_GFPattern(const vc_GFPattern& o);
  vc_GFPattern& operator=(const vc_GFPattern& o);
  virtual ~vc_GFPattern();

  bool isTrained() const;
  void untrain();

  // Edge polarity does not matter when set (matching uses |cos| of the direction difference).
  void ignorePolarity(bool v);
  bool ignorePolarity() const { return ignorePolarity_; }
  // Allowed local displacement of edges, in training pixels, during fine matching (>= 0).
  void elasticity(double v);
  double elasticity() const { return elasticity_; }
  // When set, training chooses the grains from the pattern's size and edge detail.
  void autoSelectGrainLimits(bool v);
  bool autoSelectGrainLimits() const { return autoSelectGrainLimits_; }
  // Sampling steps in pixels for the fine and the coarse stage, each in [1, 25.5]. The smaller
  // of the two is the fine grain, whatever the order.
  void grainLimits(float a, float b);
  float fineGrainLimit() const { return fineGrain_; }
  float coarseGrainLimit() const { return coarseGrain_; }
  // The grains training used (the chosen ones with autoSelectGrainLimits); 0 when untrained.
  float trainedFineGrain() const;
  float trainedCoarseGrain() const;
  // Train algorithm mask used (1 coarse only, 2 also fine); 0 when untrained.
  long trainedAlgorithm() const;
  // When cleared, training leaves out the blurred scales (vc_GFScale) that the fine fit
  // matches soft images with, about three fifths of a training's work: for a pattern trained
  // only to read its information (getInfo), which they do not change. A pattern trained so
  // still runs, matching every image as if sharp. Set by default.
  void trainBlurredScales(bool v) { trainBlurredScales_ = v; }
  bool trainBlurredScales() const { return trainBlurredScales_; }

  // Reference point of the pattern, in pattern coordinates.
  void origin(const vcVector<2>& p);
  const vcVector<2>& origin() const { return origin_; }
  // Maps pattern coordinates into the training client frame.
  void trainClientFromPattern(const vcXform<2>& x);
  const vcXform<2>& trainClientFromPattern() const { return trainClientFromPattern_; }

  // Fills `info` for its request (see vc_GFPatternInfo). Throws NotTrained when untrained.
  void getInfo(vc_GFPatternInfo& info) const;
  // What the trained edges fix (see vc_GFConstraints). Throws NotTrained when untrained.
  const vc_GFConstraints& constraints() const;
  // The training warnings of constraints(); none when untrained.
  std::vector<std::string> trainingWarnings() const;

  // Number of model edge points at the fine (level 0) and the coarsest stage.
  long numFinePoints() const;
  long numCoarsePoints() const;
  // Fine model points in training image pixels (for display and tests).
  std::vector<vcVector<2>> finePoints() const;
  // Extent of the trained pattern in training image pixels.
  vcPelRect trainRegion() const;

  friend vcArchive& operator||(vcArchive& ar, vcGFAlignPattern& p);

 protected:
  std::shared_ptr<const vc_GFModel> model_;
  bool ignorePolarity_ = false;
  double elasticity_ = 0.0;
  bool autoSelectGrainLimits_ = true;
  bool trainBlurredScales_ = true;
  float fineGrain_ = 1.0f;
  float coarseGrain_ = 4.0f;
  vcVector<2> origin_;
  vcXform<2> trainClientFromPattern_;
};

// What Geofind runs on one image share: the image's noise estimate, its pyramid and the gradient
// of every level, each made tile by tile when a run first needs it and kept for the later runs on
// the same image (the pieces of a flexible part, searched one after another). Copies share the
// cache; runs on several threads may use one cache at once. It keeps the image's pixels alive,
// and holds about 9 bytes per pixel of the tiles runs have touched (level 0 and the reductions).
// A run handed a cache of other pixels (another image or mask) makes its own for that run.
class vcGFImageCache {
 public:
  // The cache of `image`'s root image, searched where `mask` (same window as the image) is set.
  explicit vcGFImageCache(const vcPelBuffer_const<unsigned char>& image,
                          const vcPelBuffer_const<unsigned char>* mask = nullptr);
  const std::shared_ptr<vc_GFImageData>& data() const { return data_; }

 private:
  std::shared_ptr<vc_GFImageData> data_;
};

// Run parameters.
class vcGFAlignRunParams {
 public:
  vcGFAlignRunParams();
  vcGFAlignRunParams(const vcGFAlignRunParams& o);
  vcGFAlignRunParams& operator=(const vcGFAlignRunParams& o);
  ~vcGFAlignRunParams();

  // 1: coarse search with a pixel-level pose; 2: also the fine least-squares stage.
  void algorithm(long a);
  long algorithm() const { return algorithm_; }
  // Results scoring below this (0..1) are not accepted.
  void acceptThreshold(double t);
  double acceptThreshold() const { return acceptThreshold_; }
  // Minimum edge contrast (grey levels per pixel of gradient) for image edges to count. A run
  // lowers it to a quarter of the pattern's own median edge strength as trained when that is
  // less (a darker exposure or a softer focus weakens every edge in proportion, and a pattern
  // with faint edges would be lost to the first dim image), and raises it to three deviations
  // of the gradient noise of the image (estimated over the whole image the window belongs to,
  // so that a match scores the same whatever window is searched; halved on each pyramid level).
  // On a soft or noisy image the last fit matches the pattern's edges as trained but blurred to
  // the image's own softness, on the image smoothed against its noise, and the threshold follows
  // the smoothed noise.
  // A result is accepted only when its mean contrast reaches the threshold it was measured with.
  void contrastThreshold(double t);
  double contrastThreshold() const { return contrastThreshold_; }
  // When set, the score is lowered by half the clutter (see vcGFAlignResult::clutter).
  void scoreUsingClutter(bool v);
  bool scoreUsingClutter() const { return scoreUsingClutter_; }
  void numToFind(long n);
  long numToFind() const { return numToFind_; }
  // Two results whose regions overlap by more than this (0..1, area-like) are one.
  void xyOverlap(double v);
  double xyOverlap() const { return xyOverlap_; }
  // Keeps the matched edge points in each result.
  void saveMatchInfo(bool v);
  bool saveMatchInfo() const { return saveMatchInfo_; }
  // Search DOFs: `dofList` points to a vcGeorapidDOFList, which is copied. Null clears it.
  void customizeDOFs(const void* dofList);
  const vcGeorapidDOFList& dofList() const { return dofs_; }
  // Time limit in seconds; 0 means none. An expired limit raises vcTimeout::Expired.
  void timeout(double sec);
  double timeout() const { return timeout_; }
  // The pattern frame of this run, in place of the pattern's own origin() and
  // trainClientFromPattern() (refused as by those setters). A run changes nothing in the
  // pattern, so one trained pattern serves several threads with frames of their own.
  void patternFrame(const vcVector<2>& origin, const vcXform<2>& trainClientFromPattern);
  // Back to the pattern's own frame.
  void clearPatternFrame() { hasPatternFrame_ = false; }
  bool hasPatternFrame() const { return hasPatternFrame_; }
  const vcVector<2>& frameOrigin() const { return frameOrigin_; }
  const vcXform<2>& frameTrainClientFromPattern() const { return frameTrainClientFromPattern_; }
  // The measurements of the run image shared with other runs on it (see vcGFImageCache).
  void imageCache(const vcGFImageCache& cache) { cache_ = cache.data(); }
  void clearImageCache() { cache_.reset(); }
  const std::shared_ptr<vc_GFImageData>& imageCache() const { return cache_; }
  // Threads for this run's candidates (the caller's pool; null: this thread alone). Results
  // are the same whatever the pool.
  void threadPool(vcThreadPool* pool) { pool_ = pool; }
  vcThreadPool* threadPool() const { return pool_; }
  // Where the caller expects the pattern: its origin at `position` (client coordinates) within
  // +-ux, +-uy, turned and sized within the DOF ranges about the start pose. A run then starts
  // from that pose (and a few more spread over the uncertainty) on the pyramid level where they
  // cover it, instead of scanning the whole window, and scans the window only when that finds
  // no result at the accept threshold or one stopped at the edge of a range. Refused: a
  // position that is not finite, an uncertainty below 0 or not finite.
  void prediction(const vcVector<2>& position, double ux, double uy);
  void clearPrediction() { hasPrediction_ = false; }
  bool hasPrediction() const { return hasPrediction_; }
  const vcVector<2>& predictedPosition() const { return predicted_; }
  double predictionUx() const { return predictUx_; }
  double predictionUy() const { return predictUy_; }

 private:
  long algorithm_ = 2;
  double acceptThreshold_ = 0.5;
  double contrastThreshold_ = 10.0;
  bool scoreUsingClutter_ = true;
  long numToFind_ = 1;
  double xyOverlap_ = 0.8;
  bool saveMatchInfo_ = false;
  vcGeorapidDOFList dofs_;
  double timeout_ = 0.0;
  bool hasPatternFrame_ = false;
  vcVector<2> frameOrigin_;
  vcXform<2> frameTrainClientFromPattern_;
  std::shared_ptr<vc_GFImageData> cache_;
  vcThreadPool* pool_ = nullptr;
  bool hasPrediction_ = false;
  vcVector<2> predicted_;
  double predictUx_ = 0.0, predictUy_ = 0.0;
};

// One found instance.
class vcGFAlignResult {
 public:
  vcGFAlignResult() = default;

  // Client from pattern.
  const vcXform<2>& pose() const { return pose_; }
  // Similarity (0..1; with scoreUsingClutter, lowered by clutter).
  float score() const { return score_; }
  // Mean gradient magnitude of the matched image edges.
  float contrast() const { return contrast_; }
  // RMS point-to-edge distance of the matched points, in run image pixels.
  float fitError() const { return fitError_; }
  // Fraction of the model's edge weight matched by image edges.
  float coverage() const { return coverage_; }
  // Share (0..1) of the model's edge weight whose own edge is missing while an image edge of
  // the same direction runs alongside it, a little beyond the capture distance (up to 4
  // pixels): the mark of a pose that is slightly off or at a wrong size. Edges elsewhere
  // (texture, other objects, an occluder's face or its border across the pattern) do not count.
  float clutter() const { return clutter_; }
  // A run that finds nothing near the accept threshold still returns its best candidate, not
  // accepted, with its score and measures.
  bool accepted() const { return accepted_; }
  // DOF values in list order, index 1..numDOFs() (the start pose is not counted).
  long numDOFs() const { return static_cast<long>(dofValues_.size()); }
  double dofValue(long index) const;
  const std::vector<double>& dofValues() const { return dofValues_; }
  // The pattern's training region mapped by the pose: the unit square mapped by this
  // transform gives the region in client coordinates.
  const vcXform<2>& matchRegionXform() const { return matchRegion_; }
  // Corners of the match region in client coordinates (ul, ur, lr, ll).
  std::vector<vcVector<2>> matchRegionCorners() const;
  // The run image pixels the match region covers.
  const vcPelRect& imageRegion() const { return imageRegion_; }
  // With saveMatchInfo: the matched model points in client coordinates and their image edges.
  const std::vector<vcVector<2>>& matchModelPoints() const { return matchModel_; }
  const std::vector<vcVector<2>>& matchImagePoints() const { return matchImage_; }
  // Uncertainty, from the final fit's normal equations and its residuals (neighbouring edge
  // points counted as one sample in two). Covariance of the pose's translation in run image
  // pixels squared (xx, xy, yx, yy), and the 1-sigma of the angle DOF in degrees and of the
  // scale DOF (0 for a DOF the run did not search).
  const vcMatrix<2>& positionCovariance() const { return positionCov_; }
  double angleSigma() const { return angleSigma_; }
  double scaleSigma() const { return scaleSigma_; }
  // The direction (unit, image pixels) along which the position is least fixed, and its
  // 1-sigma there; the other direction is across it.
  const vcVector<2>& weakDirection() const { return weakDirection_; }
  double weakSigma() const { return weakSigma_; }
  // The edges fix the position along weakDirection() with less than a tenth of the
  // information they give across it (a bar, a text line): clutter at its ends can slide it.
  bool positionWeak() const { return positionWeak_; }
  // The 1-sigma position ellipse is longer than a pixel: the image does not tell where along
  // it the pattern lies.
  bool ambiguous() const { return ambiguous_; }
  // Appends, in client coordinates: the match region's outline (cyan), and per matched model
  // point a short line to the image edge it matched (yellow) ending in a cross (green).
  void draw(vcGraphicList& list) const;

 private:
  friend class vcGFAlignPattern;
  friend struct vc_GFRunner;
  vcXform<2> pose_;
  float score_ = 0.0f;
  float contrast_ = 0.0f;
  float fitError_ = 0.0f;
  float coverage_ = 0.0f;
  float clutter_ = 0.0f;
  bool accepted_ = false;
  vcMatrix<2> positionCov_{0.0, 0.0, 0.0, 0.0};
  double angleSigma_ = 0.0, scaleSigma_ = 0.0;
  vcVector<2> weakDirection_{1.0, 0.0};
  double weakSigma_ = 0.0;
  bool positionWeak_ = false, ambiguous_ = false;
  std::vector<double> dofValues_;
  vcXform<2> matchRegion_;
  vcPelRect imageRegion_;
  std::vector<vcVector<2>> matchModel_;
  std::vector<vcVector<2>> matchImage_;
};

class vcGFAlignResultSet {
 public:
  long numFound() const { return static_cast<long>(results_.size()); }
  const vcGFAlignResult& operator[](long i) const;
  const vcGFAlignResult& result(long i) const { return (*this)[i]; }
  const std::vector<vcGFAlignResult>& results() const { return results_; }
  // Seconds the run took.
  double runTime() const { return runTime_; }
  void clear() {
    results_.clear();
    runTime_ = 0.0;
  }

 private:
  friend class vcGFAlignPattern;
  friend struct vc_GFRunner;
  std::vector<vcGFAlignResult> results_;
  double runTime_ = 0.0;
};

class vcGFAlignPattern : public vc_GFPattern {
 public:
  vcGFAlignPattern();
  vcGFAlignPattern(const vcGFAlignPattern& o);
  vcGFAlignPattern& operator=(const vcGFAlignPattern& o);
  ~vcGFAlignPattern() override;

  // Training from the image window; with a mask (same window size) only pixels whose mask
  // value is >= 128 belong to the pattern. `algorithm` 1 trains the coarse stage only, 2 also
  // the fine stage. A failing training leaves the pattern untrained.
  void train(const vcPelBuffer_const<unsigned char>& image,
             const vcPelBuffer_const<unsigned char>& mask, long algorithm, vcDiagObject* diag,
             unsigned long flags);
  void train(const vcPelBuffer_const<unsigned char>& image, long algorithm, vcDiagObject* diag,
             unsigned long flags);
  // Training from wireframes given in client coordinates; `clientFromImage` maps the pattern's
  // pixel frame to the client frame. Each shape's weight sign is its edge polarity (dark to
  // bright on the left of the segment direction for +), its magnitude the edge importance.
  void train(const std::vector<vc2Wireframe>& shapes, const std::vector<double>& weights,
             const vcXform<2>& clientFromImage, long algorithm, vcDiagObject* diag,
             unsigned long flags);
  void train(const std::vector<vc2Wireframe>& shapes, const vcXform<2>& clientFromImage,
             long algorithm, vcDiagObject* diag, unsigned long flags);
  // The same from plain polylines (each a list of vertices, closed when `closed`).
  void trainPolylines(const std::vector<std::vector<vcVector<2>>>& polylines,
                      const std::vector<bool>& closed, const std::vector<double>& weights,
                      const vcXform<2>& clientFromImage, long algorithm);

  // Searches the image window (optionally only where mask >= 128), in the pattern frame of
  // `params` when it has one. Changes nothing in the pattern: runs may overlap on threads.
  void run(const vcPelBuffer_const<unsigned char>& window, const vcGFAlignRunParams& params,
           vcGFAlignResultSet& results, vcDiagObject* diag, unsigned long flags) const;
  void run(const vcPelBuffer_const<unsigned char>& window,
           const vcPelBuffer_const<unsigned char>& mask, const vcGFAlignRunParams& params,
           vcGFAlignResultSet& results, vcDiagObject* diag, unsigned long flags) const;

 private:
  vcXform<2> patternFromTrainPixel_(const vcGFAlignRunParams& params) const;
};

// Stores or loads the pattern: its settings and, when trained, the trained model (every
// stage's edge points), so that a loaded pattern runs as the stored one did without training
// again. Loading checks what it reads and throws vcArchive::Errors on damaged data, leaving `p`
// as it was.
vcArchive& operator||(vcArchive& ar, vcGFAlignPattern& p);
