#include "engines/geofind/gfImage.h"

#include <algorithm>

VC_GF_VECTORIZE vc_GFImageF vf_GFToFloat(const vcPelBuffer_const<unsigned char>& img) {
  vc_GFImageF out(int(img.width()), int(img.height()));
  for (int y = 0; y < out.h; ++y) {
    const unsigned char* r = img.row(y);
    float* o = &out.p[std::size_t(y) * out.w];
    for (int x = 0; x < out.w; ++x) o[x] = r[x];
  }
  return out;
}

VC_GF_VECTORIZE vc_GFImageF vf_GFReduce(const vc_GFImageF& in) {
  vc_GFImageF out(in.w / 2, in.h / 2);
  for (int y = 0; y < out.h; ++y)
    for (int x = 0; x < out.w; ++x)
      out.at(x, y) = 0.25f * (in.at(2 * x, 2 * y) + in.at(2 * x + 1, 2 * y) +
                              in.at(2 * x, 2 * y + 1) + in.at(2 * x + 1, 2 * y + 1));
  return out;
}

VC_GF_VECTORIZE void vf_GFSobel(const vc_GFImageF& in, vc_GFImageF& gx, vc_GFImageF& gy) {
  gx = vc_GFImageF(in.w, in.h);
  gy = vc_GFImageF(in.w, in.h);
  // Border pixels are 0; the loop below writes every other one.
  for (vc_GFImageF* g : {&gx, &gy}) {
    for (int y = 0; y < in.h; ++y) {
      float* r = &g->p[std::size_t(y) * in.w];
      if (y == 0 || y + 1 >= in.h) {
        std::fill(r, r + in.w, 0.0f);
      } else {
        r[0] = 0.0f;
        r[in.w - 1] = 0.0f;
      }
    }
  }
  for (int y = 1; y + 1 < in.h; ++y) {
    const float* a = &in.p[std::size_t(y - 1) * in.w];
    const float* b = a + in.w;
    const float* c = b + in.w;
    float* ox = &gx.p[std::size_t(y) * in.w];
    float* oy = &gy.p[std::size_t(y) * in.w];
    for (int x = 1; x + 1 < in.w; ++x) {
      ox[x] =
          0.125f * ((a[x + 1] + 2 * b[x + 1] + c[x + 1]) - (a[x - 1] + 2 * b[x - 1] + c[x - 1]));
      oy[x] = 0.125f * ((c[x - 1] + 2 * c[x] + c[x + 1]) - (a[x - 1] + 2 * a[x] + a[x + 1]));
    }
  }
}
