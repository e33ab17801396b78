// The image cache's tiles: level pixels by 2x2 mean reduction of the level below, the Sobel / 8
// gradient of each level, and the noise estimate.
#include "engines/geofind/gfImageCache.h"

#include <algorithm>

#include "engines/geofind/gfRunTypes.h"
#include "engines/geofind/vcGFAlign.h"

using vc_gfrun::CachedLevel;
using vc_gfrun::PixRect;

namespace {

// Whether every tile of `made` (one flag a tile of L) that r (clipped to L) touches is made.
bool allMade(const CachedLevel& L, const std::atomic<std::uint8_t>* made, const PixRect& r) {
  const int T = L.tile;
  for (int ty = r.y0 / T; ty <= (r.y1 - 1) / T; ++ty)
    for (int tx = r.x0 / T; tx <= (r.x1 - 1) / T; ++tx)
      if (made[std::size_t(ty) * L.tilesX + tx].load(std::memory_order_acquire) == 0) return false;
  return true;
}

}  // namespace

vc_GFImageData::vc_GFImageData(const vcPelBuffer_const<unsigned char>& image,
                               const vcPelBuffer_const<unsigned char>* mask)
    : image_(image) {
  image_.setEntire();
  if (mask && mask->isBound()) {
    mask_ = *mask;
    maskDx_ = mask->offset().x() - image.offset().x();
    maskDy_ = mask->offset().y() - image.offset().y();
    mask_.setEntire();
  }
  for (int l = 0; l < kMaxLevels; ++l) {
    CachedLevel& L = levels_[l];
    L.w = int(image_.width() >> l);
    L.h = int(image_.height() >> l);
    // Tiles of one size in level-0 pixels (down to a floor): a tile of a reduced level then
    // needs a few tiles of the level below, not a whole quarter of the image.
    L.tile = std::max(kTile >> l, kMinTile);
  }
}

bool vc_GFImageData::serves(const vcPelBuffer_const<unsigned char>& window,
                            const vcPelBuffer_const<unsigned char>* mask) const {
  if (!window.isBound()) return false;
  vcPelBuffer_const<unsigned char> root = window;
  root.setEntire();
  if (root.row(0) != image_.row(0) || root.rowStride() != image_.rowStride() ||
      !(root.entire() == image_.entire()))
    return false;
  const bool hasMask = mask && mask->isBound();
  if (hasMask != mask_.isBound()) return false;
  if (!hasMask) return true;
  vcPelBuffer_const<unsigned char> m = *mask;
  m.setEntire();
  return m.row(0) == mask_.row(0) && m.rowStride() == mask_.rowStride() &&
         m.entire() == mask_.entire() && mask->offset().x() - window.offset().x() == maskDx_ &&
         mask->offset().y() - window.offset().y() == maskDy_;
}

const CachedLevel& vc_GFImageData::level(int l) {
  if (!allocated_[l].load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(mutex_);
    allocate_(l);
  }
  return levels_[l];
}

void vc_GFImageData::allocate_(int l) {
  if (allocated_[l].load(std::memory_order_relaxed)) return;
  CachedLevel& L = levels_[l];
  const std::size_t n = std::size_t(std::max(L.w, 0)) * std::size_t(std::max(L.h, 0));
  L.tilesX = (L.w + L.tile - 1) / L.tile;
  L.tilesY = (L.h + L.tile - 1) / L.tile;
  const std::size_t tiles = std::size_t(L.tilesX) * std::size_t(L.tilesY);
  // Not value-initialised: the pages of tiles never made are never touched.
  L.pix.reset(new std::uint8_t[n]);
  if (mask_.isBound()) L.mask.reset(new std::uint8_t[n]);
  L.gx.reset(new float[n]);
  L.gy.reset(new float[n]);
  L.pixMade.reset(new std::atomic<std::uint8_t>[tiles]);
  L.gradMade.reset(new std::atomic<std::uint8_t>[tiles]);
  for (std::size_t i = 0; i < tiles; ++i) {
    L.pixMade[i].store(0, std::memory_order_relaxed);
    L.gradMade[i].store(0, std::memory_order_relaxed);
  }
  allocated_[l].store(true, std::memory_order_release);
}

void vc_GFImageData::makePixels_(int l, int tx, int ty) {
  CachedLevel& L = levels_[l];
  const int T = L.tile, x0 = tx * T, y0 = ty * T;
  const int x1 = std::min(x0 + T, L.w), y1 = std::min(y0 + T, L.h);
  if (l == 0) {
    const long rx = image_.offset().x(), ry = image_.offset().y();
    for (int y = y0; y < y1; ++y) {
      std::copy_n(image_.row(y) + x0, x1 - x0, &L.pix[std::size_t(y) * L.w + x0]);
      if (!L.mask) continue;
      // The mask covers what its root holds; beyond it nothing is searched.
      const long my = y + ry + maskDy_ - mask_.entire().y();
      for (int x = x0; x < x1; ++x) {
        const long mx = x + rx + maskDx_ - mask_.entire().x();
        const bool in = my >= 0 && my < mask_.height() && mx >= 0 && mx < mask_.width();
        L.mask[std::size_t(y) * L.w + x] = in && mask_.row(my)[mx] >= 128;
      }
    }
    return;
  }
  const CachedLevel& B = levels_[l - 1];
  for (int y = y0; y < y1; ++y) {
    const std::uint8_t* a = &B.pix[std::size_t(2 * y) * B.w];
    const std::uint8_t* b = a + B.w;
    std::uint8_t* d = &L.pix[std::size_t(y) * L.w];
    for (int x = x0; x < x1; ++x)
      d[x] = std::uint8_t((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2);
    if (!L.mask) continue;
    const std::uint8_t* ma = &B.mask[std::size_t(2 * y) * B.w];
    const std::uint8_t* mb = ma + B.w;
    std::uint8_t* md = &L.mask[std::size_t(y) * L.w];
    for (int x = x0; x < x1; ++x)
      md[x] = ma[2 * x] + ma[2 * x + 1] + mb[2 * x] + mb[2 * x + 1] >= 2;
  }
}

void vc_GFImageData::makeGradient_(int l, int tx, int ty) {
  CachedLevel& L = levels_[l];
  const int T = L.tile, x0 = tx * T, y0 = ty * T;
  const int x1 = std::min(x0 + T, L.w), y1 = std::min(y0 + T, L.h);
  for (int y = y0; y < y1; ++y) {
    float* ox = &L.gx[std::size_t(y) * L.w];
    float* oy = &L.gy[std::size_t(y) * L.w];
    // The level's own border has no neighbours on one side: no gradient there.
    if (y == 0 || y == L.h - 1) {
      std::fill(ox + x0, ox + x1, 0.0f);
      std::fill(oy + x0, oy + x1, 0.0f);
      continue;
    }
    const std::uint8_t* a = &L.pix[std::size_t(y - 1) * L.w];
    const std::uint8_t* b = a + L.w;
    const std::uint8_t* c = b + L.w;
    if (x0 == 0) ox[0] = oy[0] = 0.0f;
    if (x1 == L.w) ox[L.w - 1] = oy[L.w - 1] = 0.0f;
    const int xa = std::max(x0, 1), xb = std::min(x1, L.w - 1);
    for (int x = xa; x < xb; ++x) {
      ox[x] = 0.125f * float((a[x + 1] + 2 * b[x + 1] + c[x + 1]) -
                             (a[x - 1] + 2 * b[x - 1] + c[x - 1]));
      oy[x] = 0.125f * float((c[x - 1] + 2 * c[x] + c[x + 1]) - (a[x - 1] + 2 * a[x] + a[x + 1]));
    }
    if (!L.mask) continue;
    const std::uint8_t* m = &L.mask[std::size_t(y) * L.w];
    for (int x = x0; x < x1; ++x)
      if (!m[x]) ox[x] = oy[x] = 0.0f;
  }
}

void vc_GFImageData::ensurePixelsLocked_(int l, const PixRect& r0) {
  allocate_(l);
  CachedLevel& L = levels_[l];
  const PixRect r = r0.clippedTo(L.w, L.h);
  if (r.area() == 0) return;
  const int T = L.tile;
  for (int ty = r.y0 / T; ty <= (r.y1 - 1) / T; ++ty)
    for (int tx = r.x0 / T; tx <= (r.x1 - 1) / T; ++tx) {
      std::atomic<std::uint8_t>& made = L.pixMade[std::size_t(ty) * L.tilesX + tx];
      if (made.load(std::memory_order_relaxed)) continue;
      if (l > 0)
        ensurePixelsLocked_(l - 1, {2 * tx * T, 2 * ty * T, 2 * (tx + 1) * T, 2 * (ty + 1) * T});
      makePixels_(l, tx, ty);
      made.store(1, std::memory_order_release);
    }
}

void vc_GFImageData::ensurePixels(int l, const PixRect& r0) {
  const CachedLevel& L = level(l);
  const PixRect r = r0.clippedTo(L.w, L.h);
  if (r.area() == 0) return;
  // Most calls find every tile made: no lock then.
  if (allMade(L, L.pixMade.get(), r)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  ensurePixelsLocked_(l, r);
}

void vc_GFImageData::ensureGradient(int l, const PixRect& r0) {
  const CachedLevel& L = level(l);
  const PixRect r = r0.clippedTo(L.w, L.h);
  if (r.area() == 0) return;
  if (allMade(L, L.gradMade.get(), r)) return;
  const int T = L.tile;
  std::lock_guard<std::mutex> lock(mutex_);
  for (int ty = r.y0 / T; ty <= (r.y1 - 1) / T; ++ty)
    for (int tx = r.x0 / T; tx <= (r.x1 - 1) / T; ++tx) {
      std::atomic<std::uint8_t>& made = levels_[l].gradMade[std::size_t(ty) * L.tilesX + tx];
      if (made.load(std::memory_order_relaxed)) continue;
      ensurePixelsLocked_(l, PixRect{tx * T, ty * T, (tx + 1) * T, (ty + 1) * T}.grown(3));
      makeGradient_(l, tx, ty);
      made.store(1, std::memory_order_release);
    }
}

double vc_GFImageData::noise(const vc_GFTuning& tuning) {
  std::call_once(noiseOnce_, [&] { noise_ = vc_gfrun::imageNoise(image_, tuning); });
  return noise_;
}

// ------------------------------------------------------------------------ the public handle

vcGFImageCache::vcGFImageCache(const vcPelBuffer_const<unsigned char>& image,
                               const vcPelBuffer_const<unsigned char>* mask)
    : data_(std::make_shared<vc_GFImageData>(image, mask)) {}
