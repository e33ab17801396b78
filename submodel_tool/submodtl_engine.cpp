#include "submodel_tool/submodtl_engine.h"

const vc_SubModelEngine* vc_SubModelEngine::forKind(Engine kind) {
  switch (kind) {
    case vcFlexSubModelParamsDefs::eCorrelationEngine:
      return &vfCorrelationEngine();
    case vcFlexSubModelParamsDefs::eGeofindEngine:
      return &vfGeofindEngine();
    default:
      return nullptr;
  }
}
