// The page a person opens to see what a tool recorded: one self-contained HTML file.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/core/vcException.h"
#include "platform/diag/vcDiag.h"

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
std::string encodeBmp(const vcPelBuffer_const<unsigned char>& img) {
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
  return b;
}

std::string base64(const std::string& in) {
  static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < in.size(); i += 3) {
    const std::uint32_t n = std::uint32_t(std::uint8_t(in[i])) << 16 |
                            (i + 1 < in.size() ? std::uint32_t(std::uint8_t(in[i + 1])) << 8 : 0) |
                            (i + 2 < in.size() ? std::uint32_t(std::uint8_t(in[i + 2])) : 0);
    out += k[(n >> 18) & 63];
    out += k[(n >> 12) & 63];
    out += i + 1 < in.size() ? k[(n >> 6) & 63] : '=';
    out += i + 2 < in.size() ? k[n & 63] : '=';
  }
  return out;
}

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", v);
  return buf;
}

// Images with a side longer than this are embedded scaled down (the exact pixels stay in the
// image file beside the page), and their records show the part their graphics cover.
constexpr long kShownSide = 2048;

long shrinkOf(const vcPelBuffer_const<unsigned char>& img) {
  const long side = std::max(img.width(), img.height());
  return (side + kShownSide - 1) / kShownSide;
}

// The mean of each k x k block.
vcPelBuffer<unsigned char> shrunk(const vcPelBuffer_const<unsigned char>& img, long k) {
  const long w = (img.width() + k - 1) / k, h = (img.height() + k - 1) / k;
  vcPelBuffer<unsigned char> out(w, h);
  std::vector<std::uint32_t> sum(static_cast<std::size_t>(w)), count(static_cast<std::size_t>(w));
  for (long by = 0; by < h; ++by) {
    std::fill(sum.begin(), sum.end(), 0u);
    std::fill(count.begin(), count.end(), 0u);
    for (long y = by * k; y < std::min(img.height(), (by + 1) * k); ++y) {
      const unsigned char* r = img.row(y);
      for (long x = 0; x < img.width(); ++x)
        sum[std::size_t(x / k)] += r[x], ++count[std::size_t(x / k)];
    }
    for (long x = 0; x < w; ++x)
      out.set(x, by,
              static_cast<unsigned char>((sum[std::size_t(x)] + count[std::size_t(x)] / 2) /
                                         count[std::size_t(x)]));
  }
  return out;
}

// The texts' numbers come from arithmetic (a scale range of 0.8 is kept as 0.8 - 1, printed
// -0.19999999999999996): each is shown in the fewest digits that read back within four units
// in its last place.
std::string tidyNumbers(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const bool starts = std::isdigit(static_cast<unsigned char>(text[i])) &&
                        (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1])));
    if (!starts) {
      out += text[i++];
      continue;
    }
    std::size_t j = i;
    while (j < text.size() &&
           (std::isdigit(static_cast<unsigned char>(text[j])) || text[j] == '.' || text[j] == 'e' ||
            text[j] == 'E' ||
            ((text[j] == '-' || text[j] == '+') && (text[j - 1] == 'e' || text[j - 1] == 'E'))))
      ++j;
    const std::string token = text.substr(i, j - i);
    std::size_t digits = 0;
    for (char c : token.substr(0, token.find_first_of("eE")))
      digits += std::isdigit(static_cast<unsigned char>(c)) != 0;
    char* end = nullptr;
    const double v = std::strtod(token.c_str(), &end);
    std::string shown = token;
    if (digits >= 16 && end == token.c_str() + token.size() && std::isfinite(v) && v != 0) {
      const double ulp = std::nextafter(std::fabs(v), INFINITY) - std::fabs(v);
      for (int p = 1; p < 16; ++p) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.*g", p, v);
        if (std::fabs(std::strtod(buf, nullptr) - v) <= 4 * ulp) {
          shown = buf;
          break;
        }
      }
    }
    out += shown;
    i = j;
  }
  return out;
}

std::string stem(long i) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "record_%04ld", i);
  return buf;
}

// The exact-pixel file of distinct image k, beside the page.
std::string imageFile(long k) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "image_%03ld.pgm", k);
  return buf;
}

// Distinct images of the records: many records of one run show the same run image, which the
// page embeds once.
class ImageTable {
 public:
  // The index of the image's entry, made on first sight.
  std::size_t add(const vcPelBuffer_const<unsigned char>& img) {
    // Records of one recorder share the copy of an image: the same pixels, found at once.
    for (std::size_t k = 0; k < images_.size(); ++k)
      if (images_[k].row(0) == img.row(0) && images_[k].width() == img.width() &&
          images_[k].height() == img.height())
        return k;
    const std::uint64_t h = hash(img);
    auto range = byHash_.equal_range(h);
    for (auto it = range.first; it != range.second; ++it)
      if (vfPelEqual(images_[it->second], img)) return it->second;
    images_.push_back(img);
    byHash_.emplace(h, images_.size() - 1);
    return images_.size() - 1;
  }
  const std::vector<vcPelBuffer_const<unsigned char>>& images() const { return images_; }

 private:
  // Of about 64k pixels spread over the image: equal hashes are confirmed pixel by pixel.
  static std::uint64_t hash(const vcPelBuffer_const<unsigned char>& img) {
    std::uint64_t h =
        1469598103934665603ull ^ std::uint64_t(img.width()) << 32 ^ std::uint64_t(img.height());
    const long step = std::max(1L, img.width() * img.height() / 65536);
    for (long i = 0; i < img.width() * img.height(); i += step)
      h = (h ^ img.row(i / img.width())[i % img.width()]) * 1099511628211ull;
    return h;
  }
  std::vector<vcPelBuffer_const<unsigned char>> images_;
  std::multimap<std::uint64_t, std::size_t> byHash_;
};

// Transform from a graphic list's frame to the image's pixel frame (the SVG user space).
vcXform<2> viewFor(const vcDiagRecord& r, vcDisplay::CoordinateSystem cs) {
  if (cs != vcDisplay::eClientCoords || !r.hasImage()) return vcXform<2>();
  try {
    return r.image().imageFromClientXform();
  } catch (const vcException&) {
    return vcXform<2>();  // a singular client transform: show the graphics unmapped
  }
}

// The record's picture: its image (a reference to the embedded one) and one switchable layer
// per graphic list, with the checkboxes that switch them.
std::string recordSvg(const vcDiagRecord& r, long index, long imageId) {
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
  // A large image: the part its graphics cover (with a margin), or the whole scaled down.
  double most = 8.0;
  if (r.hasImage() && shrinkOf(r.image()) > 1) {
    bool drawn = false;
    vcRect covered;
    for (const auto& it : r.items()) {
      if (it.kind != vcDiagRecord::eGraphicsItem || it.graphics.empty()) continue;
      const vcRect e = it.graphics.encloseRect().map(viewFor(r, it.coords)).encloseRect();
      covered = drawn ? covered.enclose(e) : e;
      drawn = true;
    }
    const double margin = 32 + 0.1 * std::max(covered.width(), covered.height());
    const vcRect grown(covered.x() - margin, covered.y() - margin, covered.width() + 2 * margin,
                       covered.height() + 2 * margin);
    const vcRect part = grown & view;
    if (drawn && part.width() > 0 && part.height() > 0 &&
        std::max(part.width(), part.height()) <= kShownSide)
      view = part;
    else
      most = 1.0 / double(shrinkOf(r.image()));
  }
  const double pad = r.hasImage() ? 0.0 : 10.0;
  const double vw = view.width() + 2 * pad, vh = view.height() + 2 * pad;
  // Small images are scaled up so that overlays stay readable. Graphics are drawn in screen
  // pixels, so texts and their offsets keep their size at any zoom.
  const double zoom =
      std::min(most, std::max(1.0, std::min(8.0, 480.0 / std::max(1.0, std::max(vw, vh)))));
  // Pixel centres sit at whole coordinates, while the picture's pixel x covers [x, x + 1):
  // graphics over an image move by half a pixel to meet the pixels they describe.
  const double half = r.hasImage() ? 0.5 : 0.0;
  const vcXform<2> screenFromImage(
      vcMatrix<2>(zoom, 0, 0, zoom),
      vcVector<2>(pad + half - view.x(), pad + half - view.y()) * zoom);
  std::string boxes, layers;
  long k = 0;
  for (const auto& it : r.items()) {
    if (it.kind != vcDiagRecord::eGraphicsItem) continue;
    const std::string id = stem(index) + "_g" + std::to_string(k++);
    boxes += "<label><input type=\"checkbox\" checked data-layer=\"" + id + "\"> " +
             vfXmlEscape(it.name) + " (" + std::to_string(it.graphics.size()) + ")</label>\n";
    if (it.graphics.empty()) continue;
    layers += "<g class=\"overlay\" id=\"" + id + "\" data-name=\"" + vfXmlEscape(it.name) +
              "\"><title>" + vfXmlEscape(it.name) + "</title>\n" +
              it.graphics.svg(screenFromImage * viewFor(r, it.coords)) + "</g>\n";
  }
  std::string s;
  if (!boxes.empty()) s += "<div class=\"layers\">Layers: " + boxes + "</div>\n";
  s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(vw * zoom) + "\" height=\"" +
       num(vh * zoom) + "\">\n";
  if (r.hasImage())
    s += "<use href=\"#img" + std::to_string(imageId) + "\" transform=\"scale(" + num(zoom) +
         ")\"/>\n";
  return s + layers + "</svg>\n";
}

const char* kStyle =
    "body{font-family:sans-serif;background:#222;color:#ddd;margin:12px}"
    "details{border-left:2px solid #555;padding:2px 8px;margin:6px 0}"
    "summary{font-weight:bold;cursor:pointer}"
    "table.summary td,table.summary th{text-align:left;padding:1px 12px 1px 0}"
    "pre{background:#111;padding:4px;white-space:pre-wrap}"
    "svg{background:#000;outline:2px solid #f0f;display:block;margin:4px 2px}"
    ".layers label{margin-right:12px;font-size:90%}";

// Shows a script error on the page itself, switches layers and opens or closes every record.
const char* kHeadScript =
    "<script>window.addEventListener('error',function(e){var d=document.documentElement;"
    "d.dataset.errors=(d.dataset.errors||'')+e.message+';'});</script>\n";
const char* kTailScript =
    "<script>document.addEventListener('change',function(e){var l=e.target.dataset.layer;"
    "if(!l)return;var g=document.getElementById(l);if(g)g.style.display=e.target.checked?'':"
    "'none'});function openAll(o){document.querySelectorAll('details.rec').forEach("
    "function(d){d.open=o})}document.getElementById('openAll').onclick=function(){openAll(true)};"
    "document.getElementById('closeAll').onclick=function(){openAll(false)};"
    "document.documentElement.dataset.ready='1';</script>\n";

}  // namespace

void vfWriteDiagFolder(const vcDiagObject& diag, const std::string& folder,
                       const vcDiagImageEncoder& encoder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder)) throw vcBadParams("cannot create record folder: " + folder);

  ImageTable table;
  std::vector<long> imageOf(std::size_t(diag.numRecords()), -1);
  for (long i = 0; i < diag.numRecords(); ++i)
    if (diag.diagRecord(i).hasImage())
      imageOf[std::size_t(i)] = long(table.add(diag.diagRecord(i).image()));

  std::string title = "Diagnostic records";
  for (const auto& [k, v] : diag.summary())
    if (k == "Tool") title += ": " + v;
  std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
                     vfXmlEscape(title) + "</title>\n<style>" + kStyle + "</style>\n" +
                     kHeadScript + "</head><body>\n";

  // Each distinct image once, for the records to reference.
  html += "<svg width=\"0\" height=\"0\" style=\"position:absolute;outline:none\"><defs>\n";
  const bool bmp = encoder.empty();
  for (std::size_t k = 0; k < table.images().size(); ++k) {
    const auto& img = table.images()[k];
    vfWritePgm((fs::path(folder) / imageFile(long(k))).string(), img);
    const long shrink = shrinkOf(img);
    const vcPelBuffer<unsigned char> small =
        shrink > 1 ? shrunk(img, shrink) : vcPelBuffer<unsigned char>();
    const vcPelBuffer_const<unsigned char>& shown = shrink > 1 ? small : img;
    const std::string bytes = bmp ? encodeBmp(shown) : encoder.encode(shown);
    html += "<image id=\"img" + std::to_string(k) + "\" width=\"" + std::to_string(img.width()) +
            "\" height=\"" + std::to_string(img.height()) +
            "\" preserveAspectRatio=\"none\" style=\"image-rendering:pixelated\" href=\"data:" +
            (bmp ? std::string("image/bmp") : encoder.mimeType) + ";base64," + base64(bytes) +
            "\"/>\n";
  }
  html += "</defs></svg>\n";

  std::time_t now = std::time(nullptr);
  char written[64];
  std::tm local{};
  localtime_r(&now, &local);  // reports are written from several threads at once
  std::strftime(written, sizeof written, "%Y-%m-%d %H:%M:%S", &local);
  html += "<h1>" + vfXmlEscape(title) + "</h1>\n<table class=\"summary\">\n";
  for (const auto& [k, v] : diag.summary())
    html += "<tr><th>" + vfXmlEscape(k) + "</th><td>" + vfXmlEscape(v) + "</td></tr>\n";
  html += std::string("<tr><th>Written</th><td>") + written +
          "</td></tr>\n<tr><th>Records</th><td>" + std::to_string(diag.numRecords()) +
          "</td></tr>\n</table>\n<p><button id=\"openAll\">Open all</button> "
          "<button id=\"closeAll\">Close all</button></p>\n";

  // Records nest under the last record of a lower level; only the top level starts open.
  std::vector<long> open;
  for (long i = 0; i < diag.numRecords(); ++i) {
    const vcDiagRecord& r = diag.diagRecord(i);
    while (!open.empty() && open.back() >= r.level()) {
      html += "</details>\n";
      open.pop_back();
    }
    // A record about one sub-model names it in its title.
    const vcDiagRecord::Item* piece = r.findText("Sub-Model");
    html += "<details class=\"rec\" id=\"" + stem(i) + "\" data-level=\"" +
            std::to_string(r.level()) + "\"" + (open.empty() ? " open" : "") + "><summary>" +
            std::to_string(i) + ". " + vfXmlEscape(r.annotation()) +
            (piece ? ": " + vfXmlEscape(piece->text) : std::string()) + "</summary>\n";
    open.push_back(r.level());
    if (r.hasImage()) {
      const std::string name = imageFile(imageOf[std::size_t(i)]);
      const long shrink = shrinkOf(r.image());
      html += "<p>Image " + std::to_string(r.image().width()) + " x " +
              std::to_string(r.image().height()) +
              (shrink > 1
                   ? ", larger than " + std::to_string(kShownSide) +
                         " pixels: shown cropped to its graphics or at 1/" + std::to_string(shrink)
                   : std::string()) +
              " (exact pixels: <a href=\"" + name + "\">" + name + "</a>)</p>\n";
    }
    html += recordSvg(r, i, imageOf[std::size_t(i)]);
    for (const auto& it : r.items())
      if (it.kind == vcDiagRecord::eTextItem)
        html += "<h3 class=\"text\">" + vfXmlEscape(it.name) + "</h3><pre>" +
                vfXmlEscape(tidyNumbers(it.text)) + "</pre>\n";
  }
  for (; !open.empty(); open.pop_back()) html += "</details>\n";
  html += kTailScript;
  html += "</body></html>\n";
  const std::string path = (fs::path(folder) / "index.html").string();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << html;
  out.close();
  if (!out) throw vcBadParams("cannot write record index: " + path);
}
