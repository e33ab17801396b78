#include "platform/diag/vcDiag.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/core/vcException.h"

void vcDiagRecord::image(const vcPelBuffer_const<unsigned char>& img, bool copy) {
  if (!img.isBound()) {
    image_.setUnbound();
    return;
  }
  if (!copy) {
    image_ = img;
    return;
  }
  // A root image over the same window keeps the pixel coordinates the client transform uses.
  vcPelBuffer<unsigned char> dst(img.window(), 1);
  vfPelCopy(img, dst);
  dst.clientFromImageXform(img.clientFromImageXform());
  image_ = dst;
}

void vcDiagRecord::graphics(const vcGraphicList& list, vcDisplay::CoordinateSystem coords,
                            const std::string& name) {
  Item it{eGraphicsItem, name, std::string(), list, coords};
  items_.push_back(std::move(it));
}

void vcDiagRecord::text(const std::string& name, const std::string& text) {
  Item it{eTextItem, name, text, vcGraphicList(), vcDisplay::eClientCoords};
  items_.push_back(std::move(it));
}

const vcDiagRecord::Item& vcDiagRecord::item(long i) const {
  if (i < 0 || i >= numItems()) throw vcBadParams("Record item index out of range");
  return items_[static_cast<std::size_t>(i)];
}

const vcDiagRecord::Item* vcDiagRecord::findText(const std::string& name) const {
  for (const auto& it : items_)
    if (it.kind == eTextItem && it.name == name) return &it;
  return nullptr;
}

vcDiagObject* vcDiagObject::getRecordingDestination(vcDiagObject* diag, unsigned long& flags) {
  if (diag && (flags & vcDiagDefs::eAll) != 0) return diag;
  flags = 0;
  return nullptr;
}

vcDiagRecord& vcDiagObject::newDiagRecord() {
  records_.emplace_back(level_);
  return records_.back();
}

vcDiagRecord& vcDiagObject::diagRecord(long i) {
  if (i < 0 || i >= numRecords()) throw vcBadParams("Record index out of range");
  return records_[static_cast<std::size_t>(i)];
}

const vcDiagRecord& vcDiagObject::diagRecord(long i) const {
  return const_cast<vcDiagObject*>(this)->diagRecord(i);
}

void vcDiagObject::clear() {
  records_.clear();
  level_ = 0;
}

namespace {

void put16(std::string& b, std::uint32_t v) {
  b += static_cast<char>(v & 0xff);
  b += static_cast<char>((v >> 8) & 0xff);
}
void put32(std::string& b, std::uint32_t v) {
  put16(b, v & 0xffff);
  put16(b, v >> 16);
}

// 8-bit grey BMP: browsers show it without any codec of ours.
void writeBmp(const std::string& path, const vcPelBuffer_const<unsigned char>& img) {
  const std::uint32_t w = static_cast<std::uint32_t>(img.width());
  const std::uint32_t h = static_cast<std::uint32_t>(img.height());
  const std::uint32_t stride = (w + 3) / 4 * 4;
  const std::uint32_t offset = 14 + 40 + 256 * 4;
  std::string b;
  b += "BM";
  put32(b, offset + stride * h);
  put32(b, 0);
  put32(b, offset);
  put32(b, 40);  // info header size
  put32(b, w);
  put32(b, h);  // positive: rows bottom-up
  put16(b, 1);
  put16(b, 8);
  put32(b, 0);  // no compression
  put32(b, stride * h);
  put32(b, 2835);
  put32(b, 2835);
  put32(b, 256);
  put32(b, 0);
  for (int i = 0; i < 256; ++i) {
    const char g = static_cast<char>(i);
    b += g;
    b += g;
    b += g;
    b += '\0';
  }
  for (long y = static_cast<long>(h) - 1; y >= 0; --y) {
    b.append(reinterpret_cast<const char*>(img.row(y)), w);
    b.append(stride - w, '\0');
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(b.data(), static_cast<std::streamsize>(b.size()));
  if (!out) throw vcBadParams("cannot write image file: " + path);
}

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", v);
  return buf;
}

// Transform from a graphic list's frame to the image's pixel frame (the SVG user space).
vcXform<2> viewFor(const vcDiagRecord& r, vcDisplay::CoordinateSystem cs) {
  if (cs != vcDisplay::eClientCoords || !r.hasImage()) return vcXform<2>();
  try {
    return r.image().imageFromClientXform();
  } catch (const vcException&) {
    return vcXform<2>();  // a singular client transform: show the graphics unmapped
  }
}

std::string recordSvg(const vcDiagRecord& r, const std::string& imageFile) {
  // First the extent in image pixels: the image's window, or without an image the graphics.
  vcRect view;
  bool any = false;
  if (r.hasImage()) {
    view = vcRect(r.image().window());
    any = true;
  }
  for (const auto& it : r.items()) {
    if (r.hasImage() || it.kind != vcDiagRecord::eGraphicsItem || it.graphics.empty()) continue;
    const vcRect e = it.graphics.encloseRect().map(viewFor(r, it.coords)).encloseRect();
    view = any ? view.enclose(e) : e;
    any = true;
  }
  if (!any) return std::string();
  const double pad = r.hasImage() ? 0.0 : 10.0;
  const double vw = view.width() + 2 * pad, vh = view.height() + 2 * pad;
  // Small images are scaled up so that overlays stay readable. Graphics are drawn in screen
  // pixels, so texts and their offsets keep their size at any zoom.
  const double zoom = std::max(1.0, std::min(8.0, 480.0 / std::max(1.0, std::max(vw, vh))));
  const vcXform<2> screenFromImage(vcMatrix<2>(zoom, 0, 0, zoom),
                                   vcVector<2>(pad - view.x(), pad - view.y()) * zoom);
  std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(vw * zoom) +
                  "\" height=\"" + num(vh * zoom) + "\">\n";
  if (r.hasImage())
    s += "<image href=\"" + imageFile + "\" x=\"0\" y=\"0\" width=\"" + num(vw * zoom) +
         "\" height=\"" + num(vh * zoom) + "\" style=\"image-rendering:pixelated\"/>\n";
  for (const auto& it : r.items()) {
    if (it.kind != vcDiagRecord::eGraphicsItem || it.graphics.empty()) continue;
    s += "<g class=\"overlay\" data-name=\"" + vfXmlEscape(it.name) + "\"><title>" +
         vfXmlEscape(it.name) + "</title>\n" +
         it.graphics.svg(screenFromImage * viewFor(r, it.coords)) + "</g>\n";
  }
  return s + "</svg>\n";
}

}  // namespace

void vfWriteDiagFolder(const vcDiagObject& diag, const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder)) throw vcBadParams("cannot create record folder: " + folder);
  std::string html =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Diagnostic records</title>\n"
      "<style>body{font-family:sans-serif;background:#222;color:#ddd}"
      ".rec{border-left:2px solid #555;padding:4px 8px;margin:8px 0}"
      "pre{background:#111;padding:4px;white-space:pre-wrap}svg{background:#000}</style>\n"
      "</head><body>\n<h1>Diagnostic records (" +
      std::to_string(diag.numRecords()) + ")</h1>\n";
  for (long i = 0; i < diag.numRecords(); ++i) {
    const vcDiagRecord& r = diag.diagRecord(i);
    char stem[32];
    std::snprintf(stem, sizeof stem, "record_%04ld", i);
    std::string bmp;
    if (r.hasImage()) {
      vfWritePgm((fs::path(folder) / (std::string(stem) + ".pgm")).string(), r.image());
      bmp = std::string(stem) + ".bmp";
      writeBmp((fs::path(folder) / bmp).string(), r.image());
    }
    html += "<div class=\"rec\" id=\"" + std::string(stem) + "\" data-level=\"" +
            std::to_string(r.level()) + "\" style=\"margin-left:" + std::to_string(24 * r.level()) +
            "px\">\n<h2>" + std::to_string(i) + ". " + vfXmlEscape(r.annotation()) + "</h2>\n";
    if (r.hasImage())
      html += "<p>Image " + std::to_string(r.image().width()) + " x " +
              std::to_string(r.image().height()) + ": <a href=\"" + stem + ".pgm\">" + stem +
              ".pgm</a></p>\n";
    html += recordSvg(r, bmp);
    for (long k = 0; k < r.numItems(); ++k) {
      const auto& it = r.item(k);
      if (it.kind == vcDiagRecord::eGraphicsItem)
        html += "<p class=\"graphics\">Graphics: " + vfXmlEscape(it.name) + " (" +
                std::to_string(it.graphics.size()) + ")</p>\n";
      else
        html += "<h3 class=\"text\">" + vfXmlEscape(it.name) + "</h3><pre>" + vfXmlEscape(it.text) +
                "</pre>\n";
    }
    html += "</div>\n";
  }
  html += "</body></html>\n";
  const std::string path = (fs::path(folder) / "index.html").string();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << html;
  out.close();
  if (!out) throw vcBadParams("cannot write record index: " + path);
}

vcDiagFolderRecorder::~vcDiagFolderRecorder() {
  try {
    flush();
  } catch (...) {
    // A destructor must not throw; flush() reports the same failure to callers who ask.
  }
}
