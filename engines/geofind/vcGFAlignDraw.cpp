// How a Geofind result shows where it matched: enough to see a wrong pose's bad edges.
#include <algorithm>

#include "engines/geofind/vcGFAlign.h"
#include "platform/display/vcGenPoly.h"
#include "platform/display/vcGraphic.h"

void vcGFAlignResult::draw(vcGraphicList& list) const {
  list.append(vcPtrHandle<vcGraphic>(
      new vcGraphicSimple<vcGenPoly>(vcGenPoly(matchRegionCorners(), true), vcColor::cyan)));
  const std::size_t n = std::min(matchModel_.size(), matchImage_.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (matchModel_[i].distance(matchImage_[i]) > 0.05)
      list.append(vcPtrHandle<vcGraphic>(new vcGraphicSimple<vcGenPoly>(
          vcGenPoly({matchModel_[i], matchImage_[i]}), vcColor::yellow)));
    list.append(vcPtrHandle<vcGraphic>(
        new vcGraphicCross(matchImage_[i], 2.0, vcRadian(0.0), vcColor::green)));
  }
}
