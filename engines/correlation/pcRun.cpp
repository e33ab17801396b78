// The run: its checks and set-up (zone ranges against the trained ones, the start pose's
// pixel map, the allowed centres, the window read in place or padded for partial matches),
// the coarse pass and refinement of each cluster, and the result list without overlaps.
#include <algorithm>
#include <cmath>

#include "engines/correlation/pcRunTypes.h"

void vc_PatCorRunner::place(vc_PatCorResult& out, const vc_pcrun::FitPose& f) const {
  out.score_ = std::clamp(f.score, 0.0, 1.0);
  out.angle_ = f.angle;
  out.scale_ = f.scale;
  // Pixel map training -> run (root pixels): p -> A (p - c_t) + c_run.
  const vcMatrix<2> A =
      base * vcMatrix<2>(f.scale, 1.0, vcRadian(0.0), vcRadian(f.angle * vcRadPerDeg));
  const vcVector<2> ct(D.offset.x() + (D.W - 1) * 0.5, D.offset.y() + (D.H - 1) * 0.5);
  const vcVector<2> cr(image.offset().x() + f.cx - padX, image.offset().y() + f.cy - padY);
  const vcXform<2> runFromTrain(A, cr - A * ct);
  const vcXform<2> trainImageFromModel = D.trainClientFromImage.inverse() * origin;
  out.pose_ = image.clientFromImageXform() * runFromTrain * trainImageFromModel;
  out.imagePos_ = runFromTrain * (trainImageFromModel * vcVector<2>(0, 0));
  out.centre_ = cr;
  out.pixels_ = f.pixels;
  out.blur_ = f.blur;
  // The model origin, w = o - c_t training pixels from the centre, lands at
  // q = c_run - A (t + s w + a J w) under the fitted increments: the columns of its Jacobian
  // are A e_x, A e_y, A w and A J w, and its covariance J cov J^T.
  const vcVector<2> w = trainImageFromModel * vcVector<2>(0, 0) - ct;
  vcVector<2> col[4] = {A * vcVector<2>(1, 0), A * vcVector<2>(0, 1), vcVector<2>(), vcVector<2>()};
  if (f.scaleIndex >= 0) col[f.scaleIndex] = A * w;
  if (f.angleIndex >= 0) col[f.angleIndex] = A * vcVector<2>(-w.y(), w.x());
  double xx = 0, xy = 0, yy = 0;
  for (int a = 0; a < f.dofs; ++a)
    for (int b = 0; b < f.dofs; ++b) {
      xx += col[a].x() * f.cov[a][b] * col[b].x();
      xy += col[a].x() * f.cov[a][b] * col[b].y();
      yy += col[a].y() * f.cov[a][b] * col[b].y();
    }
  const double u = f.unexplained;
  out.positionCov_ = vcMatrix<2>(u * xx, u * xy, u * xy, u * yy);
  out.angleSigma_ =
      f.angleIndex >= 0 ? std::sqrt(u * f.cov[f.angleIndex][f.angleIndex]) / vcRadPerDeg : 0.0;
  out.scaleSigma_ =
      f.scaleIndex >= 0 ? f.scale * std::sqrt(u * f.cov[f.scaleIndex][f.scaleIndex]) : 0.0;
}

bool vc_PatCorRunner::overlaps(const vc_PatCorResult& a, const vc_PatCorResult& b) const {
  const double ox = std::max(0.0, 1.0 - std::fabs(a.centre_.x() - b.centre_.x()) / D.W);
  const double oy = std::max(0.0, 1.0 - std::fabs(a.centre_.y() - b.centre_.y()) / D.H);
  if (ox * oy <= P.xyOverlap()) return false;
  double da = std::fabs(a.angle_ - b.angle_);
  da = std::min(da, 360.0 - std::fmod(da, 360.0));
  if (da > P.zoneOverlap(1)) return false;
  if (std::fabs(a.scale_ - b.scale_) > P.zoneOverlap(2)) return false;
  return true;
}

void vc_PatCorRunner::run(vc_PatCorResultSet& rs) {
  std::vector<std::vector<Cand>> cands;
  coarsePass(cands);
  std::vector<vc_PatCorResult> found;
  std::vector<vc_pcrun::Peak> peaks;
  // Clusters come strongest first. Once enough results are in, a cluster whose coarse score
  // trails the weakest of them by more than the reduction can explain is not refined.
  for (const std::vector<Cand>& c : cands) {
    if (long(found.size()) >= P.numToFind()) {
      double weakest = 2.0;
      std::vector<double> sc;
      for (const vc_PatCorResult& r : found) sc.push_back(r.score_);
      std::sort(sc.rbegin(), sc.rend());
      weakest = sc[P.numToFind() - 1];
      if (c[0].score < weakest - tune.refineMargin) break;
    }
    vc_PatCorResult r;
    if (refine(c, r, peaks)) found.push_back(r);
  }
  std::stable_sort(
      found.begin(), found.end(),
      [](const vc_PatCorResult& p, const vc_PatCorResult& q) { return p.score_ > q.score_; });
  for (const vc_PatCorResult& r : found) {
    bool dup = false;
    for (const vc_PatCorResult& k : rs.results_)
      if (overlaps(k, r)) {
        dup = true;
        break;
      }
    if (!dup) rs.results_.push_back(r);
    if (long(rs.results_.size()) >= P.numToFind()) break;
  }
  // Rivals: the best peak away from every result. One that scores close to a result is
  // fitted too: when it converges onto a result it was that result seen from another zone;
  // otherwise the image holds two equally good places (repetitive texture) and the result is
  // ambiguous. So is a result whose peak is too flat to place.
  std::sort(peaks.begin(), peaks.end(),
            [](const vc_pcrun::Peak& p, const vc_pcrun::Peak& q) { return p.score > q.score; });
  auto nearResult = [&](double x, double y) {
    for (const vc_PatCorResult& q : rs.results_)
      if (std::hypot(q.centre_.x() - (image.offset().x() + x - padX),
                     q.centre_.y() - (image.offset().y() + y - padY)) < tune.rivalDistance)
        return true;
    return false;
  };
  const bool angleFree = (P.zoneEnable() & 1) && hi[0] > lo[0];
  const bool scaleFree = (P.zoneEnable() & 2) && hi[1] > lo[1];
  vc_pcrun::BlurredTemplate B;
  for (vc_PatCorResult& r : rs.results_) {
    // The score's own noise: a coefficient r over n pixels varies by about (1 - r^2) / sqrt(n)
    // (Fisher), with neighbouring pixels counted as one sample in pixelsPerSample.
    const double margin = std::max(tune.ambiguityFloor,
                                   tune.ambiguitySigmas * (1.0 - r.score_ * r.score_) /
                                       std::sqrt(std::max(1.0, r.pixels_ / tune.pixelsPerSample)));
    // The rival is fitted and scored with the template the result was (blurred as the image).
    vc_pcrun::FitTemplate T = vc_pcrun::sharpTemplate(D);
    const float* pix = nullptr;
    if (r.blur_ > 0) {
      B.make(D, r.blur_);
      T = B.view;
      pix = B.pix.data();
    }
    for (const vc_pcrun::Peak& k : peaks) {
      if (!k.interior || nearResult(k.x, k.y)) continue;
      if (k.score < r.integerScore_ - 2 * margin - tune.integerGap) {
        r.runnerUp_ = std::max(r.runnerUp_, k.score);
        break;
      }
      vc_pcrun::FitPose f;
      f.cx = k.x;
      f.cy = k.y;
      f.angle = k.angle;
      f.scale = k.scale;
      if (!fit(f, angleFree, scaleFree, T, tune.fitIterations) || nearResult(f.cx, f.cy)) continue;
      const double sc = scoreAt(f, pix);
      r.runnerUp_ = std::max(r.runnerUp_, sc > -1.5 ? sc : f.score);
      break;
    }
    const double a = r.positionCov_(0, 0), b = r.positionCov_(0, 1), d = r.positionCov_(1, 1);
    const double longest = 0.5 * (a + d) + std::sqrt(0.25 * (a - d) * (a - d) + b * b);
    r.ambiguous_ = r.runnerUp_ >= r.score_ - margin || longest > tune.maxSigmaPx * tune.maxSigmaPx;
  }
  rs.success_ = true;
}

void vc_PatCorModel<unsigned char>::run(const vcPelBuffer_const<unsigned char>& image,
                                        const vc_PatCorRunParams& params,
                                        vc_PatCorResultSet& results, vcDiagObject* diag,
                                        unsigned long flags) const {
  run(image, vcPelBuffer_const<unsigned char>(), params, results, diag, flags);
}

void vc_PatCorModel<unsigned char>::run(const vcPelBuffer_const<unsigned char>& image,
                                        const vcPelBuffer_const<unsigned char>& mask,
                                        const vc_PatCorRunParams& params,
                                        vc_PatCorResultSet& results, vcDiagObject*,
                                        unsigned long) const {
  results.clear();
  if (!trained_ || !data_) throw vc_PatCorDefs::NotTrained("Correlation model is not trained");
  if (!image.isBound()) throw vc_PatCorDefs::BadImage("Run image is unbound");
  if (mask.isBound() && (mask.width() != image.width() || mask.height() != image.height()))
    throw vc_PatCorDefs::BadImage("Run mask size does not match the run image");
  if (!vfIsSaneXform(image.clientFromImageXform()))
    throw vc_PatCorDefs::BadImage(
        "The run image's client-from-image transform must be finite, with scales in "
        "[0.001, 1000] and a translation within 1e6");
  // The run's own model frame, or the model's (a public member a caller may have set after
  // training).
  const vcXform<2>& origin = params.modelOrigin() ? *params.modelOrigin() : origin_;
  vc_pcrun::checkOrigin(origin);
  if (params.startPoseType != 0 && !vfIsSaneXform(params.startPose))
    throw vc_PatCorDefs::BadParams(
        "The start pose must be finite, with scales in [0.001, 1000] and a translation within "
        "1e6");
  const vc_PatCorTrained& D = *data_;

  vc_PatCorRunner R(*this, D, params, image, mask.isBound() ? &mask : nullptr, origin,
                    vc_pcrun::defaultTuning());
  // Zone ranges (absolute zone values) and the trained limits.
  for (int d = 0; d < 2; ++d) {
    const bool on = params.zoneEnable() & (1ul << d);
    const double unit = d == 0 ? 0.0 : 1.0;
    R.lo[d] = on ? unit + params.zoneRelLow(d + 1) : unit;
    R.hi[d] = on ? unit + params.zoneRelHigh(d + 1) : unit;
    const bool allowed = trainParams_.zoneAllowed() & (1ul << d);
    const double nom = trainParams_.zoneNominal(d + 1);
    const double rg = allowed ? trainParams_.zoneMaxRange(d + 1) : 0.0;
    const double tol = d == 0 ? 1e-6 : 1e-9;
    if (R.lo[d] < nom - rg - tol || R.hi[d] > nom + rg + tol)
      throw vc_PatCorDefs::BadRange(d == 0 ? "Angle range outside the trained zone"
                                           : "Scale range outside the trained zone");
  }
  // Pixel base map: training pixels to run pixels at the start pose.
  const vcXform<2> trainImageFromModel = D.trainClientFromImage.inverse() * origin;
  if (params.startPoseType != 0) {
    const vcXform<2> runImageFromModel = image.imageFromClientXform() * params.startPose;
    R.base = runImageFromModel.matrix() * trainImageFromModel.matrix().inverse();
  }
  {
    // Checked on the template's extent before it is warped, so a start pose that blows the
    // template up past the window costs nothing; the other candidates differ from this one by
    // bounded turns and scales.
    const double angle = 0.5 * (R.lo[0] + R.hi[0]), scale = 0.5 * (R.lo[1] + R.hi[1]);
    const vcMatrix<2> A =
        R.base * vcMatrix<2>(scale, 1.0, vcRadian(0.0), vcRadian(angle * vcRadPerDeg));
    const double hx = (D.W - 1) * 0.5, hy = (D.H - 1) * 0.5;
    const double ex = std::fabs(A(0, 0)) * hx + std::fabs(A(0, 1)) * hy;
    const double ey = std::fabs(A(1, 0)) * hx + std::fabs(A(1, 1)) * hy;
    const vcPelRect& pm = params.partialMatch();
    const double roomX = double(image.width() + pm.x() + pm.width() - 1);
    const double roomY = double(image.height() + pm.y() + pm.height() - 1);
    if (!(2 * std::floor(ex + 1e-9) + 1 <= roomX) || !(2 * std::floor(ey + 1e-9) + 1 <= roomY))
      throw vc_PatCorDefs::BadImage("Run window is smaller than the template");
    const vc_pcrun::Tpl T0 = vc_pcrun::makeTpl(D, R.base, angle, scale);
    if (roomX < T0.w || roomY < T0.h)
      throw vc_PatCorDefs::BadImage("Run window is smaller than the template");
  }
  // Allowed template-centre positions in window pixels.
  R.cxMin = -1e30;
  R.cxMax = 1e30;
  R.cyMin = -1e30;
  R.cyMax = 1e30;
  if (params.startPoseType != 0 && params.xyRelLow().x() > -1e29) {
    const vcVector<2> ct(D.offset.x() + (D.W - 1) * 0.5, D.offset.y() + (D.H - 1) * 0.5);
    const vcXform<2> runImageFromModel = image.imageFromClientXform() * params.startPose;
    const vcVector<2> c = runImageFromModel * (trainImageFromModel.inverse() * ct) -
                          vcVector<2>(double(image.offset().x()), double(image.offset().y()));
    const vcMatrix<2> M = image.imageFromClientXform().matrix();
    const vcVector<2> l = params.xyRelLow(), h = params.xyRelHigh();
    double x0 = 1e30, x1 = -1e30, y0 = 1e30, y1 = -1e30;
    for (const vcVector<2>& k : {vcVector<2>(l.x(), l.y()), vcVector<2>(h.x(), l.y()),
                                 vcVector<2>(l.x(), h.y()), vcVector<2>(h.x(), h.y())}) {
      const vcVector<2> q = M * k;
      x0 = std::min(x0, q.x());
      x1 = std::max(x1, q.x());
      y0 = std::min(y0, q.y());
      y1 = std::max(y1, q.y());
    }
    R.cxMin = c.x() + x0 - params.uncertainty().x();
    R.cxMax = c.x() + x1 + params.uncertainty().x();
    R.cyMin = c.y() + y0 - params.uncertainty().y();
    R.cyMax = c.y() + y1 + params.uncertainty().y();
  }
  const vcPelRect& pm = params.partialMatch();
  const long pl = pm.x(), pt = pm.y(), pr = pm.width() - 1, pb = pm.height() - 1;
  if (pl + pt + pr + pb == 0) {
    R.px = image.row(0);
    R.stride = image.rowStride();
    R.fw = image.width();
    R.fh = image.height();
    if (mask.isBound()) {
      R.imask.resize(R.fw * R.fh);
      for (long y = 0; y < R.fh; ++y) {
        const unsigned char* r = mask.row(y);
        for (long x = 0; x < R.fw; ++x) R.imask[y * R.fw + x] = r[x] >= vc_pcrun::kMaskOn ? 1 : 0;
      }
    }
  } else {
    R.fw = image.width() + pl + pr;
    R.fh = image.height() + pt + pb;
    R.padX = pl;
    R.padY = pt;
    R.padded.assign(R.fw * R.fh, 0);
    R.imask.assign(R.fw * R.fh, 0);
    for (long y = 0; y < image.height(); ++y) {
      const unsigned char* r = image.row(y);
      const unsigned char* m = mask.isBound() ? mask.row(y) : nullptr;
      unsigned char* o = &R.padded[(y + pt) * R.fw + pl];
      unsigned char* k = &R.imask[(y + pt) * R.fw + pl];
      for (long x = 0; x < image.width(); ++x) {
        o[x] = r[x];
        k[x] = (!m || m[x] >= vc_pcrun::kMaskOn) ? 1 : 0;
      }
    }
    R.px = R.padded.data();
    R.stride = R.fw;
    R.cxMin += pl;
    R.cxMax += pl;
    R.cyMin += pt;
    R.cyMax += pt;
  }
  R.run(results);
}
