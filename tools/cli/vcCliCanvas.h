// A colour picture of a grey image to draw what the tools found or were told on: lines, boxes,
// crosses and text in a 5 x 7 pixel font, all grown with the picture (lines 2 pixels wide and
// text 5 x 7 at 640 x 480, four times that at 2000 x 1500) so they read alike at any size.
// A large image is seen through a crop and a whole-number reduction, so a picture of an
// 8000 x 8000 image stays small; every drawing call takes image coordinates.
#pragma once

#include <string>
#include <vector>

#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcShapes.h"
#include "platform/core/vcXform.h"

struct vcCliColour {
  unsigned char r, g, b;
};

class vcCliCanvas {
 public:
  // The part `view` of the image (clamped to it), reduced by the smallest whole factor that
  // keeps the longer side within `maxSide` pixels.
  vcCliCanvas(const vcPelBuffer_const<unsigned char>& image, const vcPelRect& view,
              long maxSide = 2048);

  long width() const { return w_; }
  long height() const { return h_; }
  long shrink() const { return k_; }
  const vcPelRect& view() const { return view_; }
  // True when the picture is not the whole image at full size.
  bool reduced() const { return k_ > 1 || cropped_; }

  // Lines `dashed` or solid.
  void line(const vcVector<2>& a, const vcVector<2>& b, vcCliColour c, bool dashed = false);
  // The rectangle `r` mapped by `x` into the image.
  void box(const vcRect& r, const vcXform<2>& x, vcCliColour c, bool dashed = false);
  void cross(const vcVector<2>& at, double arm, vcCliColour c);
  // Text with its top-left corner at `at`; characters outside printable ASCII show as '?'.
  void text(const vcVector<2>& at, const std::string& s, vcCliColour c);
  // Text centred on `at`, on a dark backdrop so it reads over a busy image; moved a line down
  // or up where an earlier label lies.
  void label(const vcVector<2>& at, const std::string& s, vcCliColour c);
  // A line of text on a dark band along the picture's top edge; each call adds a line below.
  void caption(const std::string& s);
  // Line width and text scale of this picture, in its pixels.
  long lineWidth() const { return pen_; }
  long textScale() const { return font_; }

  // An 8-bit colour PNG; vcBadParams naming the file when it cannot be written.
  void writePng(const std::string& path) const;

 private:
  void dot(long x, long y, vcCliColour c);
  void fill(long x0, long y0, long x1, long y1, vcCliColour c);
  vcVector<2> toCanvas(const vcVector<2>& p) const;
  void glyphs(long x, long y, const std::string& s, vcCliColour c, long scale);

  vcPelRect view_;
  long k_ = 1;
  bool cropped_ = false;
  long w_ = 0, h_ = 0;
  long pen_ = 2, font_ = 2;  // line width and text scale
  long captions_ = 0;
  std::vector<vcPelRect> labels_;  // where labels were put, canvas pixels
  std::vector<unsigned char> rgb_;
};
