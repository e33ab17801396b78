#include "tools/testing/vcFlexSample.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <random>

#include "platform/display/vc2Wireframe.h"
#include "tools/io/vcPose.h"

namespace {

constexpr double kBackground = 40;

vcSampleShape polygon(std::vector<vcVector<2>> v, double grey) {
  return vfSamplePolygon(std::move(v), grey);
}

vcSampleShape circle(vcVector<2> c, double r, double grey) { return vfSampleCircle(c, r, grey); }

std::vector<vcVector<2>> moved(const std::vector<vcVector<2>>& v, const vcVector<2>& by) {
  std::vector<vcVector<2>> out;
  for (const vcVector<2>& p : v) out.push_back(p + by);
  return out;
}

vcSampleShape mapped(const vcSampleShape& s, const vcXform<2>& x) {
  vcSampleShape out = s;
  for (vcVector<2>& p : out.vertices) p = x.mapPoint(p);
  out.centre = x.mapPoint(s.centre);
  out.radius = s.radius * std::sqrt(std::fabs(x.matrix().det()));
  return out;
}

vcXform<2> turnAbout(const vcVector<2>& c, double deg, const vcVector<2>& shift) {
  const vcMatrix<2> r = vfPoseFrom(0, 0, deg, 1).matrix();
  return vcXform<2>(r, c + shift - r * c);
}

vcXform<2> translation(const vcVector<2>& t) { return vcXform<2>(vcMatrix<2>(), t); }

vc2Wireframe outline(const std::vector<vcVector<2>>& v) {
  vc2Wireframe w;
  for (const vcVector<2>& p : v) w.insertVertex(p, -1, vcRadian(0), vcDimTol());
  w.close(vcRadian(0), vcDimTol());
  return w;
}

// The pieces in arrangement (training pixel) coordinates.
const std::vector<vcVector<2>> kBody = {{40, 40},  {230, 40},  {230, 95},
                                        {120, 95}, {120, 200}, {40, 200}};
const std::vector<vcVector<2>> kTab = {{250, 60}, {330, 48}, {345, 95}, {262, 112}};
const std::vector<vcVector<2>> kConnector = {{260, 215}, {335, 215}, {335, 270},
                                             {310, 270}, {310, 253}, {260, 253}};
const std::vector<vcVector<2>> kKey = {{0, 0}, {26, 0}, {26, 10}, {14, 10}, {14, 22}, {0, 22}};
const std::vector<vcVector<2>> kLatch = {{260, 150}, {350, 150}, {350, 168},
                                         {300, 168}, {288, 200}, {260, 200}};
const vcVector<2> kKeyPlaces[3] = {{60, 225}, {140, 225}, {220, 225}};
// Where each instance sits (its sub-model's coordinates are centred there): body, tab,
// connector, the three keys, latch, label.
const vcVector<2> kCentres[8] = {{120, 110}, {297, 79},  {297, 242}, {73, 236},
                                 {153, 236}, {233, 236}, {305, 175}, {370, 40}};

}  // namespace

vcFlexSample vfMakeFlexSample() {
  vcFlexSample s;
  // Contrasts of 80 to 170 grey levels over the ground.
  const std::vector<vcSampleShape> body = {polygon(kBody, 210),
                                           circle({80, 70}, 14, kBackground)};  // a hole
  const std::vector<vcSampleShape> tab = {polygon(kTab, 140)};
  const std::vector<vcSampleShape> connector = {polygon(kConnector, 185)};
  const std::vector<vcSampleShape> latch = {polygon(kLatch, 160)};
  std::vector<std::vector<vcSampleShape>> keys;
  for (const vcVector<2>& at : kKeyPlaces) keys.push_back({polygon(moved(kKey, at), 170)});

  // Training image: every piece at its place.
  vcSamplePattern all;
  all.background = kBackground;
  all.halfSize = 200;
  s.partCentre = vcVector<2>(200, 150);
  const vcXform<2> toPattern = translation(-s.partCentre);
  auto add = [&](const std::vector<vcSampleShape>& shapes) {
    for (const vcSampleShape& sh : shapes) all.shapes.push_back(mapped(sh, toPattern));
  };
  add(body), add(tab), add(connector), add(latch);
  for (const auto& k : keys) add(k);
  vcSampleRender train;
  train.width = 400;
  train.height = 300;
  train.blurSigma = 0.8;
  train.noiseSigma = 1.0;
  s.trainImage = vfRenderSample(all, translation(s.partCentre), train);

  // Image sub-models are windows of the training image: their client coordinates are the
  // training image's, so a piece cut at its own place sits at the identity.
  // Each sub-model's coordinates are centred on its piece, so that its pose and the checks on
  // it refer to the piece itself rather than to a far-off corner of the training image.
  auto cut = [&](long x, long y, long w, long h, const vcVector<2>& centre) {
    vcPelBuffer_const<unsigned char> v = s.trainImage;
    v.window(vcPelRect(x, y, w, h));
    v.clientFromImageXform(translation(-centre));
    return v;
  };
  // The connector's window reaches over the latch's lower edge, which moves on its own: the
  // mask leaves that edge out of the connector's model.
  const vcPelBuffer_const<unsigned char> connectorWindow = cut(250, 195, 96, 84, kCentres[2]);
  vcPelBuffer<unsigned char> maskImage(400, 300);
  for (long y = 0; y < 300; ++y)
    for (long x = 0; x < 400; ++x) maskImage.set(x, y, y >= 207 ? 255 : 0);
  vcPelBuffer_const<unsigned char> mask = maskImage;
  mask.window(connectorWindow.window());
  mask.clientFromImageXform(connectorWindow.clientFromImageXform());
  std::vector<vcFlexSubModel> subs;
  subs.emplace_back(cut(28, 28, 216, 184, kCentres[0]), "body");
  subs.emplace_back(std::vector<vc2Wireframe>{outline(moved(kTab, -kCentres[1]))}, vc2XformLinear(),
                    "tab");
  subs.emplace_back(connectorWindow, mask, "connector");
  subs.emplace_back(cut(50, 215, 46, 42, kCentres[3]), "key");
  subs.emplace_back(std::vector<vc2Wireframe>{outline(moved(kLatch, -kCentres[6]))},
                    vc2XformLinear(), "latch");
  subs.emplace_back(std::string("label"));

  using H = vcPtrHandle_const<vc2XformBase>;
  std::vector<H> places;
  for (const vcVector<2>& c : kCentres) places.push_back(H(new vc2XformLinear(translation(c))));
  s.arrangement = vcFlexArrangement(subs, std::vector<long>{0, 1, 2, 3, 3, 3, 4, 5}, places);
  // The part's pose is taken about its centre, so that a turn of the part does not read as a
  // shift of its origin.
  s.arrangement.origin(vc2XformLinear(translation(s.partCentre)));
  s.instanceNames = {"body", "tab", "connector", "key 1", "key 2", "key 3", "latch", "label"};
  s.instanceShapes = {body, tab, connector, keys[0], keys[1], keys[2], latch, {}};
  s.instanceCentres.assign(std::begin(kCentres), std::end(kCentres));
  return s;
}

vcXform<2> vfFlexSamplePose(const vcFlexSample& s, double angleDeg, double scale, double dx,
                            double dy) {
  (void)s;
  return vfPoseFrom(320 + dx, 240 + dy, angleDeg, scale);
}

vcFlexSampleImage vfRenderFlexSample(const vcFlexSample& s, const vcFlexSampleOptions& opt) {
  vcFlexSampleImage out;
  std::mt19937 rng(opt.seed * 7919u + 13u);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  vcSamplePattern all;
  all.background = kBackground;
  all.halfSize = 200;
  const std::size_t n = s.instanceShapes.size();
  // Shapes are drawn in image pixels (the render pose is the identity).
  std::vector<vcVector<2>> centres;  // of the parts, with their reach, for the clutter
  std::vector<double> reaches;
  const vcXform<2> originInverse = translation(-s.partCentre);
  auto place = [&](const vcXform<2>& pose, std::vector<vcXform<2>>& truth) {
    // `pose` maps the origin frame (centred on the part); `part` arrangement coordinates.
    const vcXform<2> part = pose * originInverse;
    centres.push_back(part.mapPoint(s.partCentre));
    reaches.push_back(260.0 * std::sqrt(std::fabs(part.matrix().det())));
    for (std::size_t k = 0; k < n; ++k) {
      const vcXform<2> d = turnAbout(s.instanceCentres[k], U(rng) * opt.maxTurnDeg,
                                     vcVector<2>(U(rng), U(rng)) * (opt.maxShift / std::sqrt(2.0)));
      const vcXform<2> placement =
          s.arrangement.positions()[k]->linearXform(vcVector<2>(0, 0)).xform();
      const bool blank = s.instanceShapes[k].empty();
      truth.push_back(blank ? part * placement : part * d * placement);
      for (const vcSampleShape& sh : s.instanceShapes[k])
        all.shapes.push_back(mapped(sh, part * d));
      if (static_cast<int>(k) == opt.occludePiece && !blank) {
        // A flat block a little larger than the piece.
        double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
        for (const vcSampleShape& sh : s.instanceShapes[k])
          for (const vcVector<2>& p : sh.vertices) {
            x0 = std::min(x0, p.x()), x1 = std::max(x1, p.x());
            y0 = std::min(y0, p.y()), y1 = std::max(y1, p.y());
          }
        all.shapes.push_back(mapped(
            polygon({{x0 - 6, y0 - 6}, {x1 + 6, y0 - 6}, {x1 + 6, y1 + 6}, {x0 - 6, y1 + 6}}, 95),
            part * d));
      }
    }
  };
  place(opt.partPose, out.truth);
  if (opt.secondCopy) place(opt.secondPose, out.secondTruth);
  // Clutter away from the parts, so that it changes no piece's edges; drawn first, under them.
  std::uniform_real_distribution<double> U01(0.0, 1.0);
  std::vector<vcSampleShape> clutter;
  for (int i = 0; i < opt.clutterShapes; ++i) {
    for (int tries = 0; tries < 200; ++tries) {
      const vcVector<2> c(U01(rng) * opt.width, U01(rng) * opt.height);
      const double r = 8 + 16 * U01(rng);
      bool clear = true;
      for (std::size_t p = 0; p < centres.size(); ++p)
        if (c.distance(centres[p]) < reaches[p] + r) clear = false;
      if (!clear) continue;
      const double grey = 60 + 190 * U01(rng);
      clutter.push_back(U01(rng) < 0.5 ? circle(c, r, grey)
                                       : polygon({{c.x() - r, c.y() - r * 0.6},
                                                  {c.x() + r, c.y() - r * 0.6},
                                                  {c.x() + r * 0.7, c.y() + r},
                                                  {c.x() - r * 0.8, c.y() + r * 0.8}},
                                                 grey));
      break;
    }
  }
  all.shapes.insert(all.shapes.begin(), clutter.begin(), clutter.end());
  all.halfSize = std::max(opt.width, opt.height);
  vcSampleRender r;
  r.width = opt.width;
  r.height = opt.height;
  r.blurSigma = opt.blurSigma;
  r.noiseSigma = opt.noiseSigma;
  r.seed = opt.seed;
  out.image = vfRenderSample(all, vcXform<2>(), r);
  return out;
}

std::string vfFlexSampleTruthText(const vcFlexSample& s, const std::vector<vcXform<2>>& truth) {
  std::string text;
  char line[160];
  for (std::size_t k = 0; k < truth.size() && k < s.instanceNames.size(); ++k) {
    const vcXform<2>& t = truth[k];
    const vcVector<2> c =
        t.mapPoint(s.arrangement.positions()[k]->inverseBase()->mapPoint(s.instanceCentres[k]));
    std::snprintf(line, sizeof line, "%-10s x %8.3f  y %8.3f  angle %7.3f  scale %6.4f\n",
                  s.instanceNames[k].c_str(), c.x(), c.y(), vfPoseAngle(t), t.matrix().scale());
    text += line;
  }
  return text;
}

vcFlexAlignTrainParams vfFlexSampleTrainParams(const vcFlexSample& s) {
  vcFlexSubModelGfndTrainParams standard;
  vcFlexAlignTrainParams tp(standard);
  // Outlines carry no grey levels: their edges may run either way.
  vcFlexSubModelGfndTrainParams outline = standard;
  outline.ignorePolarity(true);
  for (std::size_t k = 0; k < s.arrangement.subModelIndices().size(); ++k) {
    const vcFlexSubModel& sm =
        s.arrangement.subModels()[static_cast<std::size_t>(s.arrangement.subModelIndices()[k])];
    if (sm.modelType() == vcFlexModelDefs::eSynthetic) tp.custom(static_cast<long>(k), outline);
  }
  return tp;
}

vcFlexSubModelGfndRunParams vfFlexSamplePieceParams(double pieceAccept) {
  vcFlexSubModelGfndRunParams sub;
  sub.acceptThreshold(pieceAccept);
  sub.xyUncertainty(6, 6);
  sub.zoneEnable(vcFlexSubModelParamsDefs::eAngle);
  sub.zoneRelStandard(vcFlexSubModelParamsDefs::eAngle, -4, 4);
  return sub;
}

vcFlexAlignRunParams vfFlexSampleRunParams(vcFlexAlignDefs::RunStrategy strategy,
                                           double pieceAccept) {
  using D = vcFlexAlignDefs;
  vcFlexAlignRunParams rp(vfFlexSamplePieceParams(pieceAccept));
  rp.runStrategy(strategy);
  rp.xyUncertainty(40, 40);
  rp.zoneEnable(D::eAngle | D::eUniformScale);
  rp.zoneRelStandard(D::eAngle, -15, 15);
  rp.zoneRelStandard(D::eUniformScale, -0.1, 0.1);
  return rp;
}

// A larger part for timing: cols x rows pieces of four distinct asymmetric outlines, each its
// own image sub-model cut from the training image, 60 px apart.
vcFlexSample vfMakeFlexGridSample(int cols, int rows) {
  vcFlexSample s;
  const std::vector<std::vector<vcVector<2>>> outlines = {
      {{-16, -12}, {16, -12}, {16, -2}, {-4, -2}, {-4, 12}, {-16, 12}},
      {{-14, -14}, {14, -10}, {8, 14}, {-10, 8}},
      {{-16, -8}, {10, -12}, {16, 4}, {0, 4}, {0, 12}, {-16, 12}},
      {{-12, -14}, {12, -14}, {12, 0}, {4, 0}, {4, 14}, {-12, 14}}};
  const int w = cols * 60 + 40, h = rows * 60 + 40;
  vcSamplePattern all;
  all.background = kBackground;
  all.halfSize = std::max(w, h);
  s.partCentre = vcVector<2>(w / 2.0, h / 2.0);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      const vcVector<2> centre(50 + 60 * c, 50 + 60 * r);
      const int kind = (r * cols + c) % 4;
      const vcSampleShape shape = polygon(moved(outlines[kind], centre), 120 + 20 * kind);
      all.shapes.push_back(shape);
      s.instanceShapes.push_back({shape});
      s.instanceCentres.push_back(centre);
      s.instanceNames.push_back("piece " + std::to_string(r * cols + c));
    }
  vcSampleRender train;
  train.width = w;
  train.height = h;
  train.blurSigma = 0.8;
  train.noiseSigma = 1.0;
  s.trainImage = vfRenderSample(all, vcXform<2>(), train);
  std::vector<vcFlexSubModel> subs;
  std::vector<vcPtrHandle_const<vc2XformBase>> places;
  for (std::size_t k = 0; k < s.instanceCentres.size(); ++k) {
    const vcVector<2>& c = s.instanceCentres[k];
    vcPelBuffer_const<unsigned char> v = s.trainImage;
    v.window(vcPelRect(static_cast<long>(c.x()) - 25, static_cast<long>(c.y()) - 25, 50, 50));
    v.clientFromImageXform(translation(-c));
    subs.emplace_back(v, s.instanceNames[k]);
    places.push_back(vcPtrHandle_const<vc2XformBase>(new vc2XformLinear(translation(c))));
  }
  s.arrangement = vcFlexArrangement(subs, places);
  s.arrangement.origin(vc2XformLinear(translation(s.partCentre)));
  return s;
}
