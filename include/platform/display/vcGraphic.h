// Graphics for display and diagnostic records: colours, a font format, shape graphics (outlines
// of shapes, optionally filled), crosses, texts, and a list that holds them through shared
// handles. Graphics are data only; `svg` renders one into SVG elements for a viewer, under a
// transform from the graphic's coordinates to the view's.
#pragma once

#include <string>
#include <vector>

#include "platform/core/vcAngle.h"
#include "platform/core/vcHandle.h"
#include "platform/core/vcShapes.h"
#include "platform/core/vcVector.h"
#include "platform/core/vcXform.h"
#include "platform/display/vcGenPoly.h"

class vcColor {
 public:
  // Black.
  constexpr vcColor() = default;
  constexpr vcColor(unsigned char r, unsigned char g, unsigned char b) : r_(r), g_(g), b_(b) {}

  constexpr unsigned char r() const { return r_; }
  constexpr unsigned char g() const { return g_; }
  constexpr unsigned char b() const { return b_; }
  // The "pass" colour draws nothing (a transparent background).
  constexpr bool isPass() const { return pass_; }
  // "#rrggbb", or "none" for pass.
  std::string svg() const;
  constexpr bool operator==(const vcColor&) const = default;

  static const vcColor black, white, red, green, blue, cyan, magenta, yellow, orange, pass;
  static const vcColor blackColor, whiteColor, redColor, greenColor, blueColor, cyanColor,
      magentaColor, yellowColor, orangeColor;

 private:
  struct PassTag {};
  constexpr explicit vcColor(PassTag) : pass_(true) {}

  unsigned char r_ = 0, g_ = 0, b_ = 0;
  bool pass_ = false;
};

inline constexpr vcColor vcColor::black{0, 0, 0};
inline constexpr vcColor vcColor::white{255, 255, 255};
inline constexpr vcColor vcColor::red{255, 0, 0};
inline constexpr vcColor vcColor::green{0, 255, 0};
inline constexpr vcColor vcColor::blue{0, 0, 255};
inline constexpr vcColor vcColor::cyan{0, 255, 255};
inline constexpr vcColor vcColor::magenta{255, 0, 255};
inline constexpr vcColor vcColor::yellow{255, 255, 0};
inline constexpr vcColor vcColor::orange{255, 165, 0};
inline constexpr vcColor vcColor::pass{vcColor::PassTag{}};
inline constexpr vcColor vcColor::blackColor = vcColor::black;
inline constexpr vcColor vcColor::whiteColor = vcColor::white;
inline constexpr vcColor vcColor::redColor = vcColor::red;
inline constexpr vcColor vcColor::greenColor = vcColor::green;
inline constexpr vcColor vcColor::blueColor = vcColor::blue;
inline constexpr vcColor vcColor::cyanColor = vcColor::cyan;
inline constexpr vcColor vcColor::magentaColor = vcColor::magenta;
inline constexpr vcColor vcColor::yellowColor = vcColor::yellow;
inline constexpr vcColor vcColor::orangeColor = vcColor::orange;

// Text format: font family and size in view pixels.
class vcUIFormat {
 public:
  vcUIFormat() = default;
  vcUIFormat(std::string family, double size) : family_(std::move(family)), size_(size) {}
  static vcUIFormat defaultFont() { return vcUIFormat(); }
  const std::string& family() const { return family_; }
  double size() const { return size_; }
  bool operator==(const vcUIFormat&) const = default;

 private:
  std::string family_ = "sans-serif";
  double size_ = 12.0;
};

// Frames a graphic list can be given in. Client graphics are shown through the record image's
// image-from-client transform; image graphics are in the image's root pixel coordinates.
struct vcDisplay {
  enum CoordinateSystem { eScreenCoords = 0, eImageCoords = 1, eClientCoords = 2 };
};

// Two axes from a common origin, drawn as lines to their end points.
class vcCoordAxes {
 public:
  vcCoordAxes() : xEnd_(1, 0), yEnd_(0, 1) {}
  vcCoordAxes(const vcVector<2>& origin, const vcVector<2>& xEnd, const vcVector<2>& yEnd)
      : origin_(origin), xEnd_(xEnd), yEnd_(yEnd) {}
  const vcVector<2>& origin() const { return origin_; }
  const vcVector<2>& xEnd() const { return xEnd_; }
  const vcVector<2>& yEnd() const { return yEnd_; }
  vcCoordAxes map(const vcXform<2>& x) const {
    return {x.mapPoint(origin_), x.mapPoint(xEnd_), x.mapPoint(yEnd_)};
  }
  vcRect encloseRect() const;
  bool operator==(const vcCoordAxes&) const = default;

 private:
  vcVector<2> origin_, xEnd_, yEnd_;
};

// The display library's ellipse is the core one.
using vcEllipse2 = vcEllipse;

// SVG path data of a shape's outline (closed shapes end with Z).
std::string vfSvgPathData(const vcCoordAxes& s);
std::string vfSvgPathData(const vcGenPoly& s);
std::string vfSvgPathData(const vcGenRect& s);
std::string vfSvgPathData(const vcRect& s);
std::string vfSvgPathData(const vcEllipse& s);
std::string vfSvgPathData(const vcPolygon& s);
std::string vfSvgPathData(const vcPolyline& s);

class vcGraphic : public vcRepBase {
 public:
  explicit vcGraphic(const vcColor& c) : color_(c) {}
  ~vcGraphic() override = default;
  const vcColor& color() const { return color_; }
  // Extent in the graphic's own coordinates (a text counts as its anchor point).
  virtual vcRect encloseRect() const = 0;
  // SVG elements for the graphic under `toView`.
  virtual std::string svg(const vcXform<2>& toView) const = 0;
  virtual vcPtrHandle<vcGraphic> clone() const = 0;

 private:
  vcColor color_;
};

// One SVG <path> element with the given stroke and fill.
std::string vfSvgPathElement(const std::string& d, const vcColor& stroke, bool filled);

// The outline of a shape in a colour.
template <class S>
class vcGraphicSimple : public vcGraphic {
 public:
  vcGraphicSimple(const S& shape, const vcColor& c) : vcGraphic(c), shape_(shape) {}
  const S& shape() const { return shape_; }
  vcRect encloseRect() const override { return shape_.encloseRect(); }
  std::string svg(const vcXform<2>& toView) const override {
    return vfSvgPathElement(vfSvgPathData(shape_.map(toView)), color(), false);
  }
  vcPtrHandle<vcGraphic> clone() const override { return new vcGraphicSimple(*this); }

 private:
  S shape_;
};

// A shape S that maps into a shape F, drawn as an outline or filled.
template <class S, class F>
class vcGraphicWithFill : public vcGraphic {
 public:
  vcGraphicWithFill(const S& shape, const vcColor& c, bool filled = false)
      : vcGraphic(c), shape_(shape), filled_(filled) {}
  const S& shape() const { return shape_; }
  bool filled() const { return filled_; }
  vcRect encloseRect() const override { return shape_.encloseRect(); }
  std::string svg(const vcXform<2>& toView) const override {
    return vfSvgPathElement(vfSvgPathData(F(shape_.map(toView))), color(), filled_);
  }
  vcPtrHandle<vcGraphic> clone() const override { return new vcGraphicWithFill(*this); }

 private:
  S shape_;
  bool filled_;
};

// A cross marking a point: two strokes of length `size` through it, the first along `angle`.
class vcGraphicCross : public vcGraphic {
 public:
  vcGraphicCross(const vcVector<2>& center, double size, vcRadian angle, const vcColor& c)
      : vcGraphic(c), center_(center), size_(size), angle_(angle) {}
  const vcVector<2>& center() const { return center_; }
  double size() const { return size_; }
  vcRadian angle() const { return angle_; }
  vcRect encloseRect() const override;
  std::string svg(const vcXform<2>& toView) const override;
  vcPtrHandle<vcGraphic> clone() const override { return new vcGraphicCross(*this); }

 private:
  vcVector<2> center_;
  double size_;
  vcRadian angle_;
};

// A text at a point; `offset` shifts it in view pixels, so it stays readable at any zoom.
class vcGraphicText : public vcGraphic {
 public:
  vcGraphicText(const std::string& text, const vcVector<2>& point, const vcColor& foreground,
                const vcColor& background, const vcUIFormat& format = vcUIFormat::defaultFont(),
                const vcVector<2>& offset = vcVector<2>(0, 0))
      : vcGraphic(foreground),
        text_(text),
        point_(point),
        background_(background),
        format_(format),
        offset_(offset) {}
  const std::string& text() const { return text_; }
  const vcVector<2>& point() const { return point_; }
  const vcColor& background() const { return background_; }
  const vcUIFormat& format() const { return format_; }
  const vcVector<2>& offset() const { return offset_; }
  vcRect encloseRect() const override { return vcRect(point_.x(), point_.y(), 0, 0); }
  std::string svg(const vcXform<2>& toView) const override;
  vcPtrHandle<vcGraphic> clone() const override { return new vcGraphicText(*this); }

 private:
  std::string text_;
  vcVector<2> point_;
  vcColor background_;
  vcUIFormat format_;
  vcVector<2> offset_;
};

// An ordered list of graphics. Copies of a list share the graphics; clone() copies them.
class vcGraphicList {
 public:
  // Appends a graphic (an empty handle is ignored); an invisible one is kept but not drawn.
  void append(const vcPtrHandle<vcGraphic>& g, bool visible = true);
  // Appends every entry of another list.
  void append(const vcGraphicList& other);
  long size() const { return static_cast<long>(items_.size()); }
  bool empty() const { return items_.empty(); }
  // Index checks throw vcBadParams.
  const vcGraphic& graphic(long i) const;
  vcPtrHandle<vcGraphic> handle(long i) const;
  bool visible(long i) const;
  void clear() { items_.clear(); }
  vcGraphicList clone() const;
  // Extent of the visible graphics; the default vcRect when there are none.
  vcRect encloseRect() const;
  // The visible graphics' SVG elements in order.
  std::string svg(const vcXform<2>& toView) const;

 private:
  struct Item {
    vcPtrHandle<vcGraphic> g;
    bool visible;
  };
  std::vector<Item> items_;
};

// Escapes &, <, >, " and ' for SVG/HTML text and attributes.
std::string vfXmlEscape(const std::string& s);
