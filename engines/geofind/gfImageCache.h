// What the Geofind runs on one image share (vcGFImageCache): the pyramid of the whole image and
// the Sobel gradient of every level, each made tile by tile when a run first needs it, and the
// image's noise. A flexible part's pieces are searched one after another in the same image, near
// each other; each pixel's reduction and gradient are then computed once for all of them, and a
// search costs what its candidates cost, not what its window holds.
//
// Levels are reductions of the whole root image from its corner, so every run sees the same
// level pixels wherever its window lies. Buffers of a level are allocated whole but uninitialised
// (the pages of tiles never made are never touched); a tile is made under the cache's lock and
// published by its flag, so runs on several threads may share one cache.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "engines/geofind/gfTuning.h"
#include "platform/core/vcPelBuffer.h"

namespace vc_gfrun {

// Pixel rectangle [x0, x1) x [y0, y1).
struct PixRect {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  long area() const { return x1 > x0 && y1 > y0 ? long(x1 - x0) * (y1 - y0) : 0; }
  PixRect clippedTo(int w, int h) const {
    return {std::max(x0, 0), std::max(y0, 0), std::min(x1, w), std::min(y1, h)};
  }
  PixRect clippedTo(const PixRect& r) const {
    return {std::max(x0, r.x0), std::max(y0, r.y0), std::min(x1, r.x1), std::min(y1, r.y1)};
  }
  PixRect grown(int m) const { return {x0 - m, y0 - m, x1 + m, y1 + m}; }
};

// One pyramid level of the whole image. Pixels (row stride w), the mask (null when the image
// has none; 0 leaves a pixel out) and the Sobel / 8 gradient are valid on the tiles made.
struct CachedLevel {
  int w = 0, h = 0;
  int tile = 0;  // side of a tile, pixels of this level
  int tilesX = 0, tilesY = 0;
  std::unique_ptr<std::uint8_t[]> pix, mask;
  std::unique_ptr<float[]> gx, gy;
  std::unique_ptr<std::atomic<std::uint8_t>[]> pixMade, gradMade;
};

}  // namespace vc_gfrun

struct vc_GFImageData {
  // Side of a level-0 tile; level l's tiles are kTile >> l, at least kMinTile.
  static constexpr int kTile = 32, kMinTile = 8;
  static constexpr int kMaxLevels = 16;

  vc_GFImageData(const vcPelBuffer_const<unsigned char>& image,
                 const vcPelBuffer_const<unsigned char>* mask);

  // True when this cache holds `window`'s image (and `mask`'s pixels, or no mask for none).
  bool serves(const vcPelBuffer_const<unsigned char>& window,
              const vcPelBuffer_const<unsigned char>* mask) const;
  // The root image's corner in root coordinates: level-0 coordinates are root ones minus it.
  long rootX() const { return image_.entire().x(); }
  long rootY() const { return image_.entire().y(); }
  // Level `l` (its size fixed; nothing made until asked).
  const vc_gfrun::CachedLevel& level(int l);
  // Makes the pixels (and mask) of `r` on level `l`, and with them the levels below.
  void ensurePixels(int l, const vc_gfrun::PixRect& r);
  // Makes the gradient of `r` on level `l`; the pixels of r grown by 3 (the Sobel stencil and
  // the clipping test of the fits) come with it.
  void ensureGradient(int l, const vc_gfrun::PixRect& r);
  // Deviation of the whole image's pixel noise, estimated once.
  double noise(const vc_GFTuning& tuning);

 private:
  void allocate_(int l);
  void makePixels_(int l, int tx, int ty);
  void makeGradient_(int l, int tx, int ty);
  void ensurePixelsLocked_(int l, const vc_gfrun::PixRect& r);

  vcPelBuffer_const<unsigned char> image_;  // the whole root image
  vcPelBuffer_const<unsigned char> mask_;   // unbound when none
  long maskDx_ = 0, maskDy_ = 0;            // mask root coordinates minus image root ones
  vc_gfrun::CachedLevel levels_[kMaxLevels];
  std::atomic<bool> allocated_[kMaxLevels] = {};
  std::mutex mutex_;
  std::once_flag noiseOnce_;
  double noise_ = 0.0;
};
