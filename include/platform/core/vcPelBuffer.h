// 8-bit images. Pixels are shared between copies of a buffer (copying is cheap); vfPelCopy
// makes an independent copy. A buffer views a window of its root image; coordinates given to
// window() are root-image coordinates. The client transform maps root-image pixel coordinates
// to the caller's client coordinates. A root image normally starts at (0, 0); one made over a
// rectangle starts at that rectangle's corner, so its pixel coordinates are those of the
// rectangle (useful for work buffers that extend past another image's edges).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/vcHandle.h"
#include "platform/core/vcPelRect.h"
#include "platform/core/vcXform.h"

class vc2XformBase;
class vcArchive;

template <class T>
class vcPelBuffer_const {
 public:
  // Unbound.
  vcPelBuffer_const() = default;
  // Views pixels the buffer does not own, without copying: `height` rows of `width` pixels,
  // row starts `rowStride` pixels apart. Copies of the buffer hold `keepAlive`; with a null one
  // the caller keeps the pixels alive as long as any copy. Bad sizes throw vcBadParams.
  vcPelBuffer_const(const T* pixels, long width, long height, long rowStride,
                    std::shared_ptr<const void> keepAlive);

  bool isBound() const { return static_cast<bool>(owner_); }
  long width() const { return win_.width(); }
  long height() const { return win_.height(); }
  // Upper-left corner of the window in root-image coordinates.
  vcPair<long> offset() const { return win_.ul(); }
  vcPelRect window() const { return win_; }
  // Root image bounds (null when unbound).
  vcPelRect entire() const {
    return isBound() ? vcPelRect(rootX_, rootY_, rootW_, rootH_) : vcPelRect();
  }
  // Narrows (or widens) the view to `r` in root coordinates. With `clip` the rectangle is first
  // trimmed to the root image. Returns false, changing nothing, when the result would be null
  // or outside the image.
  bool window(const vcPelRect& r, bool clip = false);
  void setEntire() { win_ = entire(); }
  void setUnbound() { *this = vcPelBuffer_const(); }

  long rowStride() const { return stride_; }
  // Row y of the window (0-based within the window).
  const T* row(long y) const {
    return pels_ + (win_.y() - rootY_ + y) * stride_ + (win_.x() - rootX_);
  }
  T get(long x, long y) const { return row(y)[x]; }
  // Offset of window pixel (x, y) from the window's first pixel in the shared storage.
  std::ptrdiff_t pointToOffset(long x, long y) const { return y * stride_ + x; }
  bool sharesPixelsWith(const vcPelBuffer_const& o) const {
    return owner_ == o.owner_ || (pels_ != nullptr && pels_ == o.pels_);
  }

  const vcXform<2>& clientFromImageXform() const { return clientFromImage_; }
  vcXform<2> imageFromClientXform() const { return clientFromImage_.inverse(); }
  void clientFromImageXform(const vcXform<2>& x) { clientFromImage_ = x; }
  // A new vc2XformLinear holding clientFromImageXform().
  vcPtrHandle_const<vc2XformBase> clientFromImageXformBase() const;

 protected:
  void view_(T* pixels, long width, long height, long rowStride,
             std::shared_ptr<const void> keepAlive);

  std::shared_ptr<const void> owner_;  // keeps the pixels alive; null when unbound
  T* pels_ = nullptr;                  // pixel (rootX_, rootY_)
  long stride_ = 0;                    // pixels from one row start to the next
  long rootX_ = 0;
  long rootY_ = 0;
  long rootW_ = 0;
  long rootH_ = 0;
  vcPelRect win_;
  vcXform<2> clientFromImage_;
};

template <class T>
class vcPelBuffer : public vcPelBuffer_const<T> {
 public:
  vcPelBuffer() = default;
  // A new zero-filled image of the given size; negative sizes throw vcBadParams.
  vcPelBuffer(long width, long height);
  // A new zero-filled root image whose pixel coordinates cover `r` (entire() == r). The second
  // argument is the row alignment in bytes the caller asks for; rows here are packed, which
  // satisfies any alignment the pixel loops need, so it is only checked to be positive.
  vcPelBuffer(const vcPelRect& r, long alignment);
  // Views writable pixels the buffer does not own; as the vcPelBuffer_const constructor.
  vcPelBuffer(T* pixels, long width, long height, long rowStride,
              std::shared_ptr<const void> keepAlive);
  T* row(long y) const {
    return this->pels_ + (this->win_.y() - this->rootY_ + y) * this->stride_ +
           (this->win_.x() - this->rootX_);
  }
  void set(long x, long y, T v) const { row(y)[x] = v; }
};

using vcPelBufferU8 = vcPelBuffer<unsigned char>;
using vcPelBufferU8_const = vcPelBuffer_const<unsigned char>;

// Deep copy of the window (new storage, same client transform).
vcPelBuffer<unsigned char> vfPelCopy(const vcPelBuffer_const<unsigned char>& src);
// Copies src's window into dst's window. Windows of the same size are copied pixel for pixel
// wherever they lie; windows of different sizes exchange only the pixels where they overlap in
// root-image coordinates (nothing when they do not overlap).
void vfPelCopy(const vcPelBuffer_const<unsigned char>& src, const vcPelBuffer<unsigned char>& dst);
// True when both windows have the same size and pixels.
bool vfPelEqual(const vcPelBuffer_const<unsigned char>& a,
                const vcPelBuffer_const<unsigned char>& b);
// dst(x, y) = table[src(x, y)]; windows of equal size (may be the same buffer).
void vfPelMap(const vcPelBuffer_const<unsigned char>& src, const vcPelBuffer<unsigned char>& dst,
              const unsigned char table[256]);
void vfPelSet_U8(const vcPelBuffer<unsigned char>& dst, unsigned char value);

// Archives the window's pixels, its position and the client transform (an unbound buffer
// archives as unbound). A loaded buffer has pixels whose root image is exactly the stored
// window, so root coordinates are preserved: new ones, or for a read-only buffer equal to one
// loaded read-only before from the same archive, that one's. The pixels are coded without loss,
// and a buffer equal to one stored before in the same archive is stored as a reference to it.
// Damaged data fails with vcArchive::Errors.
vcArchive& operator||(vcArchive& ar, vcPelBuffer_const<unsigned char>& img);
vcArchive& operator||(vcArchive& ar, vcPelBuffer<unsigned char>& img);

// Binary 8-bit PGM (P5, maxval 255). Malformed files throw vcBadParams with a clear message.
vcPelBuffer<unsigned char> vfReadPgm(const std::string& path);
void vfWritePgm(const std::string& path, const vcPelBuffer_const<unsigned char>& img);
