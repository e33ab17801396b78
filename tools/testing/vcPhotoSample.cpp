#include "tools/testing/vcPhotoSample.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "platform/core/vcAngle.h"
#include "platform/core/vcException.h"
#include "tools/io/vcImageFile.h"

namespace {

struct PieceSpec {
  const char* name;
  long x, y, w, h;
};

struct PhotoSpec {
  const char* name;
  const char* file;
  std::vector<PieceSpec> pieces;
};

// Pieces picked by eye, each a distinctive thing with its own outline, kept clear of each
// other and at least a few pixels inside the photograph. Left out: the chessboard, as every
// piece of it looks like every other one shifted by a square, so a loose start finds a
// neighbour; and pieces that are a plain arc (the rim of the coffee's saucer), which slide
// along themselves: neither says anything about the engines.
const std::vector<PhotoSpec>& specs() {
  static const std::vector<PhotoSpec> s = {
      {"coins",
       "coins.png",
       {{"coin a", 18, 30, 46, 40},
        {"coin b", 127, 24, 56, 52},
        {"coin c", 20, 100, 54, 52},
        {"coin d", 245, 92, 58, 58},
        {"coin e", 172, 160, 62, 62},
        {"coin f", 312, 150, 64, 76},
        {"coin g", 140, 232, 58, 54},
        {"coin h", 228, 236, 54, 50}}},
      {"camera",
       "camera.png",
       {{"camera", 252, 132, 78, 60},
        {"face", 150, 70, 100, 110},
        {"tripod head", 266, 292, 72, 50},
        {"tower", 405, 105, 40, 95},
        {"dome", 338, 158, 64, 40},
        {"glove", 178, 182, 70, 68},
        {"buttons", 142, 268, 50, 36},
        {"tripod foot", 222, 440, 76, 50}}},
      {"page",
       "page.png",
       {{"Region", 3, 5, 74, 34},
        {"segmentation", 141, 6, 160, 32},
        {"determine", 76, 44, 78, 24},
        {"markers", 156, 44, 54, 24},
        {"coins", 258, 44, 46, 22},
        {"background", 236, 80, 88, 22},
        {"histogram", 2, 113, 68, 24},
        {"grey values", 92, 113, 82, 22}}},
      {"coffee",
       "coffee.png",
       {{"handle", 192, 222, 66, 86},
        {"spoon", 318, 228, 94, 98},
        {"rim", 172, 40, 84, 80},
        {"spoon top", 392, 62, 40, 60},
        {"cup side", 168, 150, 56, 64}}},
      {"motorcycle",
       "motorcycle_left.png",
       {{"headlight", 503, 112, 70, 80},
        {"indicator", 455, 168, 40, 36},
        {"engine", 330, 296, 104, 64},
        {"tank", 388, 182, 78, 40},
        {"seat", 148, 152, 104, 54},
        {"hub", 168, 292, 84, 80},
        {"box", 518, 22, 84, 80},
        {"bottle", 396, 52, 30, 46}}},
      // Scenes of print and pictures for the correlation engine: handwriting on ruled paper
      // (soft, low in contrast, the lines of the paper crossing every piece) and a portrait
      // with a mission patch, a name tag and a model shuttle.
      {"text",
       "text.png",
       {{"l(s)", 10, 50, 80, 46},
        {"(x-x)", 98, 28, 112, 44},
        {"e-st", 240, 66, 72, 46},
        {"integral", 320, 40, 110, 36},
        {"-1/t", 118, 118, 70, 40}}},
      {"astronaut",
       "astronaut.png",
       {{"patch", 132, 346, 80, 80},
        {"name tag", 276, 336, 56, 40},
        {"face", 188, 88, 76, 72},
        {"shuttle", 372, 60, 76, 120},
        {"glare", 336, 404, 52, 52},
        {"collar", 112, 150, 56, 56},
        {"zip", 232, 296, 36, 60}}},
  };
  return s;
}

// The first five photographs make the Geofind evaluation; the correlation one adds the last two.
constexpr std::size_t kGeofindPhotos = 5;

const PhotoSpec& specOf(const std::string& name) {
  for (const PhotoSpec& s : specs())
    if (name == s.name) return s;
  throw vcBadParams("unknown photograph \"" + name + "\"");
}

std::string dir() {
#ifdef VCFLEX_PHOTO_DIR
  return VCFLEX_PHOTO_DIR;
#else
  return "";
#endif
}

vcXform<2> translation(const vcVector<2>& t) { return vcXform<2>(vcMatrix<2>(), t); }

vcXform<2> turnAbout(const vcVector<2>& c, double deg, double scale, const vcVector<2>& shift) {
  const double a = deg * vcPi / 180.0;
  const vcMatrix<2> r(scale * std::cos(a), -scale * std::sin(a), scale * std::sin(a),
                      scale * std::cos(a));
  return vcXform<2>(r, c + shift - r * c);
}

// Float image for the rendering and the degradations.
struct Plane {
  int w = 0, h = 0;
  std::vector<float> p;
  float at(int x, int y) const {
    x = std::clamp(x, 0, w - 1), y = std::clamp(y, 0, h - 1);
    return p[std::size_t(y) * w + x];
  }
};

Plane toPlane(const vcPelBuffer_const<unsigned char>& img) {
  Plane o;
  o.w = int(img.width()), o.h = int(img.height());
  o.p.resize(std::size_t(o.w) * o.h);
  for (int y = 0; y < o.h; ++y)
    for (int x = 0; x < o.w; ++x) o.p[std::size_t(y) * o.w + x] = img.row(y)[x];
  return o;
}

// Cubic convolution (Keys, a = -0.5): sharper than bilinear sampling, which would blur each
// pasted piece by an amount that depends on its sub-pixel phase.
float keys(float t) {
  t = std::fabs(t);
  if (t < 1) return (1.5f * t - 2.5f) * t * t + 1;
  if (t < 2) return ((-0.5f * t + 2.5f) * t - 4) * t + 2;
  return 0;
}

float sampleCubic(const Plane& P, double x, double y) {
  const int ix = int(std::floor(x)), iy = int(std::floor(y));
  const float fx = float(x - ix), fy = float(y - iy);
  float s = 0;
  for (int j = -1; j <= 2; ++j) {
    const float wy = keys(fy - j);
    float r = 0;
    for (int i = -1; i <= 2; ++i) r += keys(fx - i) * P.at(ix + i, iy + j);
    s += wy * r;
  }
  return s;
}

void gaussianBlur(Plane& P, double sigma) {
  if (sigma <= 0) return;
  const int r = int(std::ceil(3 * sigma));
  std::vector<float> k(std::size_t(2 * r + 1));
  float sum = 0;
  for (int i = -r; i <= r; ++i)
    sum += k[std::size_t(i + r)] = float(std::exp(-0.5 * i * i / (sigma * sigma)));
  for (float& v : k) v /= sum;
  Plane t = P;
  for (int y = 0; y < P.h; ++y)
    for (int x = 0; x < P.w; ++x) {
      float s = 0;
      for (int i = -r; i <= r; ++i) s += k[std::size_t(i + r)] * P.at(x + i, y);
      t.p[std::size_t(y) * P.w + x] = s;
    }
  for (int y = 0; y < P.h; ++y)
    for (int x = 0; x < P.w; ++x) {
      float s = 0;
      for (int i = -r; i <= r; ++i) s += k[std::size_t(i + r)] * t.at(x, y + i);
      P.p[std::size_t(y) * P.w + x] = s;
    }
}

}  // namespace

bool vfHavePhotos() {
  if (dir().empty()) return false;
  try {
    vfReadPhoto("coins");
    return true;
  } catch (const vcException&) {
    return false;
  }
}

std::vector<std::string> vfPhotoNames() {
  std::vector<std::string> n;
  for (std::size_t k = 0; k < kGeofindPhotos; ++k) n.push_back(specs()[k].name);
  return n;
}

std::vector<std::string> vfCorrelationPhotoNames() {
  std::vector<std::string> n;
  for (const PhotoSpec& s : specs()) n.push_back(s.name);
  return n;
}

vcPelBuffer<unsigned char> vfReadPhoto(const std::string& name) {
  const std::string file = name == "gravel" ? "gravel.png" : specOf(name).file;
  return vfReadImage(dir() + "/" + file);
}

namespace {

// The part of `spec` over `image`, the pieces' regions scaled by `scale` about the image's
// upper-left corner.
vcPhotoPart makePart(const PhotoSpec& spec, vcPelBuffer<unsigned char> image, double scale) {
  vcPhotoPart part;
  part.photo = spec.name;
  part.trainImage = image;
  part.partCentre =
      vcVector<2>(0.5 * double(part.trainImage.width()), 0.5 * double(part.trainImage.height()));
  std::vector<vcFlexSubModel> subs;
  std::vector<vcPtrHandle_const<vc2XformBase>> places;
  auto scaled = [scale](long v) { return std::lround(double(v) * scale); };
  for (const PieceSpec& p : spec.pieces) {
    const vcPelRect r(scaled(p.x), scaled(p.y), scaled(p.w), scaled(p.h));
    const vcVector<2> c(double(r.x()) + 0.5 * double(r.width()),
                        double(r.y()) + 0.5 * double(r.height()));
    vcPelBuffer_const<unsigned char> v = part.trainImage;
    v.window(r);
    v.clientFromImageXform(translation(-c));
    subs.emplace_back(v, std::string(p.name));
    places.push_back(vcPtrHandle_const<vc2XformBase>(new vc2XformLinear(translation(c))));
    part.names.push_back(p.name);
    part.regions.push_back(r);
    part.centres.push_back(c);
  }
  part.arrangement = vcFlexArrangement(subs, places);
  part.arrangement.origin(vc2XformLinear(translation(part.partCentre)));
  return part;
}

}  // namespace

vcPhotoPart vfMakePhotoPart(const std::string& photo,
                            const vcPelBuffer_const<unsigned char>* image) {
  return makePart(specOf(photo), image ? vfPelCopy(*image) : vfReadPhoto(photo), 1.0);
}

vcPhotoPart vfMakeScaledPhotoPart(const std::string& photo, double scale, long width, long height) {
  const PhotoSpec& spec = specOf(photo);
  const Plane src = toPlane(vfReadPhoto(photo));
  if (!(scale > 0) || width < 1 || height < 1 || double(width) > scale * src.w ||
      double(height) > scale * src.h)
    throw vcBadParams("the photograph \"" + photo + "\" scaled by " + std::to_string(scale) +
                      " does not cover " + std::to_string(width) + " x " + std::to_string(height) +
                      " pixels");
  vcPelBuffer<unsigned char> image(width, height);
  // Pixel centres map onto pixel centres: x' + 0.5 = scale (x + 0.5).
  for (long y = 0; y < height; ++y) {
    unsigned char* row = image.row(y);
    const double sy = (double(y) + 0.5) / scale - 0.5;
    for (long x = 0; x < width; ++x) {
      const float v = sampleCubic(src, (double(x) + 0.5) / scale - 0.5, sy);
      row[x] = static_cast<unsigned char>(std::lround(std::clamp(v, 0.0f, 255.0f)));
    }
  }
  return makePart(spec, image, scale);
}

vcPhotoScene vfRenderPhotoScene(const vcPhotoPart& part, const vcPhotoSceneOptions& opt) {
  std::mt19937 rng(opt.seed * 2654435761u + 17u);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  const Plane photo = toPlane(part.trainImage);
  const std::size_t n = part.regions.size();

  // Part pose T (arrangement = training pixels to image), and each piece's own move L_k.
  const vcXform<2> T = turnAbout(part.partCentre, opt.angleDeg, opt.scale, opt.shift);
  std::vector<vcXform<2>> L, Linv;
  vcPhotoScene out;
  for (std::size_t k = 0; k < n; ++k) {
    const double r = std::sqrt(std::fabs(U(rng))) * opt.maxShift, a = vcPi * U(rng);
    L.push_back(turnAbout(part.centres[k], U(rng) * opt.maxTurnDeg, 1.0,
                          vcVector<2>(r * std::cos(a), r * std::sin(a))));
    Linv.push_back(L.back().inverse());
    out.truth.push_back(T * L.back() * translation(part.centres[k]));
  }
  out.partPose = T * translation(part.partCentre);

  // Each output pixel takes the photograph where the part pose puts it, or, inside a piece's
  // region grown by a margin, where that piece's own move puts it: things next to a piece move
  // with it, and the outer half of the margin blends into the rest so that no seam runs along
  // the piece's own edges.
  constexpr double kMargin = 12.0, kSolid = 8.0;
  const vcXform<2> Tinv = T.inverse();
  Plane img;
  img.w = photo.w, img.h = photo.h;
  img.p.resize(photo.p.size());
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x) {
      const vcVector<2> q = Tinv.mapPoint(vcVector<2>(x, y));
      float v = sampleCubic(photo, q.x(), q.y());
      double bestW = 0;
      vcVector<2> bestQ;
      for (std::size_t k = 0; k < n; ++k) {
        const vcVector<2> s = Linv[k].mapPoint(q);
        const vcPelRect& r = part.regions[k];
        const double dx =
            std::max({double(r.x()) - 0.5 - s.x(), s.x() - (double(r.x() + r.width()) - 0.5), 0.0});
        const double dy = std::max(
            {double(r.y()) - 0.5 - s.y(), s.y() - (double(r.y() + r.height()) - 0.5), 0.0});
        const double d = std::max(dx, dy);
        if (d >= kMargin) continue;
        const double w = d <= kSolid ? 1.0 : (kMargin - d) / (kMargin - kSolid);
        if (w > bestW) bestW = w, bestQ = s;
      }
      if (bestW > 0)
        v = float(bestW) * sampleCubic(photo, bestQ.x(), bestQ.y()) + float(1 - bestW) * v;
      img.p[std::size_t(y) * img.w + x] = v;
    }

  // Gravel over a corner of each piece, the corner drawn at random.
  if (opt.patchFraction > 0) {
    const Plane gravel = toPlane(vfReadPhoto("gravel"));
    const double side = std::sqrt(std::min(1.0, opt.patchFraction));
    for (std::size_t k = 0; k < n; ++k) {
      const vcPelRect& r = part.regions[k];
      const double pw = side * double(r.width()), ph = side * double(r.height());
      const double x0 = U(rng) < 0 ? double(r.x()) - 0.5 : double(r.x() + r.width()) - 0.5 - pw;
      const double y0 = U(rng) < 0 ? double(r.y()) - 0.5 : double(r.y() + r.height()) - 0.5 - ph;
      const vcVector<2> from(std::fabs(U(rng)) * (gravel.w - 100),
                             std::fabs(U(rng)) * (gravel.h - 100));
      const vcXform<2> toImage = T * L[k];
      const vcXform<2> toPiece = toImage.inverse();
      double a0 = 1e300, b0 = 1e300, a1 = -1e300, b1 = -1e300;
      for (double cx : {x0, x0 + pw})
        for (double cy : {y0, y0 + ph}) {
          const vcVector<2> c = toImage.mapPoint(vcVector<2>(cx, cy));
          a0 = std::min(a0, c.x()), a1 = std::max(a1, c.x());
          b0 = std::min(b0, c.y()), b1 = std::max(b1, c.y());
        }
      for (int y = std::max(0, int(b0)); y <= std::min(img.h - 1, int(b1) + 1); ++y)
        for (int x = std::max(0, int(a0)); x <= std::min(img.w - 1, int(a1) + 1); ++x) {
          const vcVector<2> s = toPiece.mapPoint(vcVector<2>(x, y));
          if (s.x() < x0 || s.x() > x0 + pw || s.y() < y0 || s.y() > y0 + ph) continue;
          img.p[std::size_t(y) * img.w + x] =
              sampleCubic(gravel, from.x() + s.x() - x0, from.y() + s.y() - y0);
        }
    }
  }

  gaussianBlur(img, opt.blurSigma);
  for (std::size_t k = 0; k < n; ++k) {
    const vcPelRect& r = part.regions[k];
    bool in = true;
    double a0 = 1e300, b0 = 1e300, a1 = -1e300, b1 = -1e300;
    for (double cx : {double(r.x()) - 0.5, double(r.x() + r.width()) - 0.5})
      for (double cy : {double(r.y()) - 0.5, double(r.y() + r.height()) - 0.5}) {
        const vcVector<2> c = (T * L[k]).mapPoint(vcVector<2>(cx, cy));
        in = in && c.x() >= 0 && c.y() >= 0 && c.x() <= img.w - 1 && c.y() <= img.h - 1;
        a0 = std::min(a0, c.x()), a1 = std::max(a1, c.x());
        b0 = std::min(b0, c.y()), b1 = std::max(b1, c.y());
      }
    out.inside.push_back(in);
    // Edges of the photograph's region that the gain saturates on both sides: even the dark
    // side, two pixels against the gradient, clips to white, and the edge is gone.
    std::size_t edges = 0, clipped = 0;
    for (long y = r.y() + 2; y < r.y() + r.height() - 2; ++y)
      for (long x = r.x() + 2; x < r.x() + r.width() - 2; ++x) {
        auto at = [&](long u, long v) { return double(photo.at(int(u), int(v))); };
        const double gx = 0.125 * (at(x + 1, y - 1) + 2 * at(x + 1, y) + at(x + 1, y + 1) -
                                   at(x - 1, y - 1) - 2 * at(x - 1, y) - at(x - 1, y + 1));
        const double gy = 0.125 * (at(x - 1, y + 1) + 2 * at(x, y + 1) + at(x + 1, y + 1) -
                                   at(x - 1, y - 1) - 2 * at(x, y - 1) - at(x + 1, y - 1));
        const double m = std::hypot(gx, gy);
        if (m < 8.0) continue;
        ++edges;
        const long bx = x - std::lround(2 * gx / m), by = y - std::lround(2 * gy / m);
        if (at(bx, by) * opt.gain >= 255.0) ++clipped;
      }
    out.edgesClipped.push_back(edges ? double(clipped) / double(edges) : 0.0);
  }
  std::normal_distribution<float> N(0.0f, float(opt.noiseSigma));
  out.image = vcPelBuffer<unsigned char>(img.w, img.h);
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x) {
      float v = std::clamp(img.p[std::size_t(y) * img.w + x] * float(opt.gain), 0.0f, 255.0f);
      if (opt.invert) v = 255.0f - v;
      if (opt.noiseSigma > 0) v += N(rng);
      out.image.set(x, y, static_cast<unsigned char>(std::lround(std::clamp(v, 0.0f, 255.0f))));
    }
  return out;
}
