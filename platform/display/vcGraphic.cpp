#include "platform/display/vcGraphic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/core/vcException.h"

namespace {

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", std::isfinite(v) ? v : 0.0);
  std::string s(buf);
  // Trim trailing zeros to keep pages small.
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

std::string pt(const vcVector<2>& p) { return num(p.x()) + " " + num(p.y()); }

std::string pointsPath(const std::vector<vcVector<2>>& v, bool closed) {
  std::string d;
  for (std::size_t i = 0; i < v.size(); ++i) d += (i == 0 ? "M" : " L") + pt(v[i]);
  if (closed && !v.empty()) d += " Z";
  return d;
}

vcRect encloseAll(const std::vector<vcVector<2>>& v) {
  if (v.empty()) return vcRect();
  vcRect r(v[0].x(), v[0].y(), 0, 0);
  for (const auto& p : v) r = r.enclose(p);
  return r;
}

}  // namespace

std::string vcColor::svg() const {
  if (pass_) return "none";
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", r_, g_, b_);
  return buf;
}

vcRect vcCoordAxes::encloseRect() const { return encloseAll({origin_, xEnd_, yEnd_}); }

std::string vfSvgPathData(const vcCoordAxes& s) {
  return "M" + pt(s.origin()) + " L" + pt(s.xEnd()) + " M" + pt(s.origin()) + " L" + pt(s.yEnd());
}

std::string vfSvgPathData(const vcGenPoly& s) {
  // Already in view units: a quarter-pixel chord error is invisible.
  const vcPolyline pl = s.toPolyline(0.25);
  return pointsPath(pl.vertices(), pl.closed());
}

std::string vfSvgPathData(const vcGenRect& s) {
  return pointsPath({s.ul(), s.ur(), s.lr(), s.ll()}, true);
}

std::string vfSvgPathData(const vcRect& s) { return vfSvgPathData(vcGenRect(s)); }

std::string vfSvgPathData(const vcEllipse& s) {
  std::vector<vcVector<2>> v;
  constexpr int kSteps = 72;
  for (int k = 0; k < kSteps; ++k) v.push_back(s.point(vcRadian(2.0 * vcPi * k / kSteps)));
  return pointsPath(v, true);
}

std::string vfSvgPathData(const vcPolygon& s) { return pointsPath(s.vertices(), true); }

std::string vfSvgPathData(const vcPolyline& s) { return pointsPath(s.vertices(), s.closed()); }

std::string vfSvgPathElement(const std::string& d, const vcColor& stroke, bool filled) {
  std::string e = "<path d=\"" + d + "\" stroke=\"" + stroke.svg() + "\" fill=\"";
  e += filled ? stroke.svg() + "\" fill-opacity=\"0.3\"" : std::string("none\"");
  e += " stroke-width=\"1\" vector-effect=\"non-scaling-stroke\"/>";
  return e;
}

vcRect vcGraphicCross::encloseRect() const {
  const vcVector<2> a(0.5 * size_ * cos(angle_), 0.5 * size_ * sin(angle_));
  const vcVector<2> b(-a.y(), a.x());
  return encloseAll({center_ + a, center_ - a, center_ + b, center_ - b});
}

std::string vcGraphicCross::svg(const vcXform<2>& toView) const {
  const vcVector<2> a(0.5 * size_ * cos(angle_), 0.5 * size_ * sin(angle_));
  const vcVector<2> b(-a.y(), a.x());
  const std::string d = "M" + pt(toView.mapPoint(center_ - a)) + " L" +
                        pt(toView.mapPoint(center_ + a)) + " M" + pt(toView.mapPoint(center_ - b)) +
                        " L" + pt(toView.mapPoint(center_ + b));
  return vfSvgPathElement(d, color(), false);
}

std::string vcGraphicText::svg(const vcXform<2>& toView) const {
  const vcVector<2> p = toView.mapPoint(point_) + offset_;
  std::string e;
  if (!background_.isPass()) {
    // A rough box behind the text; glyph widths are about 0.6 of the font size.
    const double w = 0.6 * format_.size() * static_cast<double>(text_.size());
    e += "<rect x=\"" + num(p.x()) + "\" y=\"" + num(p.y() - format_.size()) + "\" width=\"" +
         num(w) + "\" height=\"" + num(1.25 * format_.size()) + "\" fill=\"" + background_.svg() +
         "\"/>";
  }
  e += "<text x=\"" + num(p.x()) + "\" y=\"" + num(p.y()) + "\" fill=\"" + color().svg() +
       "\" font-family=\"" + vfXmlEscape(format_.family()) + "\" font-size=\"" +
       num(format_.size()) + "\">" + vfXmlEscape(text_) + "</text>";
  return e;
}

void vcGraphicList::append(const vcPtrHandle<vcGraphic>& g, bool visible) {
  if (g.isNull()) return;
  items_.push_back({g, visible});
}

void vcGraphicList::append(const vcGraphicList& other) {
  // Copy first: `other` may be this list.
  const std::vector<Item> add = other.items_;
  items_.insert(items_.end(), add.begin(), add.end());
}

const vcGraphic& vcGraphicList::graphic(long i) const { return *handle(i); }

vcPtrHandle<vcGraphic> vcGraphicList::handle(long i) const {
  if (i < 0 || i >= size()) throw vcBadParams("Graphic index out of range");
  return items_[static_cast<std::size_t>(i)].g;
}

bool vcGraphicList::visible(long i) const {
  handle(i);
  return items_[static_cast<std::size_t>(i)].visible;
}

vcGraphicList vcGraphicList::clone() const {
  vcGraphicList out;
  for (const auto& it : items_) out.items_.push_back({it.g->clone(), it.visible});
  return out;
}

vcRect vcGraphicList::encloseRect() const {
  bool any = false;
  vcRect r;
  for (const auto& it : items_) {
    if (!it.visible) continue;
    const vcRect e = it.g->encloseRect();
    r = any ? r.enclose(e) : e;
    any = true;
  }
  return r;
}

std::string vcGraphicList::svg(const vcXform<2>& toView) const {
  std::string s;
  for (const auto& it : items_)
    if (it.visible) s += it.g->svg(toView) + "\n";
  return s;
}

std::string vfXmlEscape(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}
