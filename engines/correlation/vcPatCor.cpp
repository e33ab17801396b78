// Correlation engine: the model's training and its small accessors. The run's stages are in
// the pc*.cpp files beside this one (pcRunTypes.h lists them).
#include "engines/correlation/vcPatCor.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "engines/correlation/pcRunTypes.h"

void vc_pcrun::checkOrigin(const vcXform<2>& origin) {
  if (!vfIsSaneXform(origin))
    throw vc_PatCorDefs::BadParams(
        "The model origin must be finite, with scales in [0.001, 1000] and a translation "
        "within 1e6");
}

const vc_PatCorTuning& vc_pcrun::defaultTuning() {
  static const vc_PatCorTuning tune;
  return tune;
}

void vc_PatCorModel<unsigned char>::sample(const vcPair<double>& g) {
  if (!(g.x() >= 1.0) || !(g.y() >= 1.0) || g.x() > 64.0 || g.y() > 64.0)
    throw vc_PatCorDefs::BadParams("Sampling must be >= 1 and <= 64");
  sample_ = g;
}

void vc_PatCorModel<unsigned char>::computeOriginInverse_() {
  try {
    originInverse_ = origin_.inverse();
  } catch (const vcException&) {
    originInverse_ = vcXform<2>();
  }
}

void vc_PatCorModel<unsigned char>::untrain() {
  trained_ = false;
  data_.reset();
}

long vc_PatCorModel<unsigned char>::templateWidth() const { return data_ ? data_->W : 0; }
long vc_PatCorModel<unsigned char>::templateHeight() const { return data_ ? data_->H : 0; }

void vc_PatCorModel<unsigned char>::train(const vcPelBuffer_const<unsigned char>& image,
                                          const vcPelBuffer_const<unsigned char>& mask,
                                          const vc_PatCorTrainParams& params, vcDiagObject*,
                                          unsigned long) {
  if (!image.isBound()) throw vc_PatCorDefs::BadImage("Training image is unbound");
  if (image.width() < 4 || image.height() < 4)
    throw vc_PatCorDefs::BadImage("Training image must be at least 4 x 4 pixels");
  if (mask.isBound() && (mask.width() != image.width() || mask.height() != image.height()))
    throw vc_PatCorDefs::BadImage("Training mask size does not match the training image");
  if (!vfIsSaneXform(image.clientFromImageXform()))
    throw vc_PatCorDefs::BadImage(
        "The training image's client-from-image transform must be finite, with scales in "
        "[0.001, 1000] and a translation within 1e6");
  vc_pcrun::checkOrigin(origin_);
  auto D = std::make_shared<vc_PatCorTrained>();
  D->W = image.width();
  D->H = image.height();
  D->pix.resize(D->W * D->H);
  D->mask.assign(D->W * D->H, 1);
  D->hasMask = mask.isBound();
  for (long y = 0; y < D->H; ++y) {
    const unsigned char* r = image.row(y);
    for (long x = 0; x < D->W; ++x) D->pix[y * D->W + x] = r[x];
    if (D->hasMask) {
      const unsigned char* m = mask.row(y);
      for (long x = 0; x < D->W; ++x) D->mask[y * D->W + x] = m[x] >= vc_pcrun::kMaskOn ? 1 : 0;
    }
  }
  long valid = 0;
  double s = 0, q = 0;
  for (size_t i = 0; i < D->pix.size(); ++i)
    if (D->mask[i]) {
      ++valid;
      s += D->pix[i];
      q += double(D->pix[i]) * D->pix[i];
    }
  if (valid < 16) throw vc_PatCorDefs::BadImage("Training mask leaves fewer than 16 pixels");
  if (q - s * s / valid <= 1e-6 * valid)
    throw vc_PatCorDefs::BadImage("Training pattern has no contrast");
  D->trainClientFromImage = image.clientFromImageXform();
  D->offset = image.offset();
  const vc_PatCorTuning& tune = vc_pcrun::defaultTuning();
  // The coarse templates must keep some structure: at least minCoarseSide pixels across.
  long f = std::max(1L, std::lround(std::max(sample_.x(), sample_.y())));
  while (f > 1 && (D->W / f < tune.minCoarseSide || D->H / f < tune.minCoarseSide)) --f;
  D->factor = f;
  const unsigned long allowed = params.zoneAllowed();
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1 && !(params.algorithms() & 2)) break;
    D->angles[pass] = vc_pcrun::zoneGrid(params.zoneNominal(1), params.zoneMaxRange(1),
                                         params.step(1, pass + 1), allowed & 1);
    D->scales[pass] = vc_pcrun::zoneGrid(params.zoneNominal(2), params.zoneMaxRange(2),
                                         params.step(2, pass + 1), allowed & 2);
  }
  if (D->scales[0].size() * D->angles[0].size() > vc_PatCorTuning::kMaxCoarseTemplates)
    throw vc_PatCorDefs::BadParams(
        "Zone ranges and coarse steps give more than 4096 coarse templates");
  const vcMatrix<2> id;
  for (double sc : D->scales[0])
    for (double a : D->angles[0]) {
      const vc_pcrun::Tpl F = vc_pcrun::makeTpl(*D, id, a, sc);
      D->coarse.push_back(vc_pcrun::cropValid(vc_pcrun::reduceTpl(F, f), tune));
    }
  vc_pcrun::trainFitData(*D);
  trainParams_ = params;
  data_ = std::move(D);
  trained_ = true;
}

bool vc_PatCorModel<unsigned char>::operator==(const vc_PatCorModel& o) const {
  if (trained_ != o.trained_) return false;
  if (!trained_) return true;
  if (!data_ || !o.data_) return data_ == o.data_;
  const vc_PatCorTrained &a = *data_, &b = *o.data_;
  return sample_ == o.sample_ && trainParams_ == o.trainParams_ && origin_ == o.origin_ &&
         a.W == b.W && a.H == b.H && a.pix == b.pix && a.mask == b.mask &&
         a.trainClientFromImage == b.trainClientFromImage;
}
