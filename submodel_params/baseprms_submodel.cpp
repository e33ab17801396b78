// The results' overlap decision for a sub-model: its extent and origin inverse are all it uses.
#include "vcFlexErrors.h"
#include "vcFlexSubModelParams.h"

#if __has_include("vcFlexModels.h")
#include "vcFlexModels.h"

bool vcFlexSubModelCorResult::isOverlapping(const vcFlexSubModel& subModel,
                                            const vcFlexSubModelResult& other,
                                            const vcFlexSubModelRunParams& params) const {
  return isOverlapping(subModel.encloseRect(), *subModel.originInverse(), other, params);
}

bool vcFlexSubModelGfndResult::isOverlapping(const vcFlexSubModel& subModel,
                                             const vcFlexSubModelResult& other,
                                             const vcFlexSubModelRunParams& params) const {
  return isOverlapping(subModel.encloseRect(), *subModel.originInverse(), other, params);
}

#else
// Stand-in until the sub-model classes are part of the build: the decision needs the
// sub-model's extent, which only they can give.
bool vcFlexSubModelCorResult::isOverlapping(const vcFlexSubModel&, const vcFlexSubModelResult&,
                                            const vcFlexSubModelRunParams&) const {
  throw vcFlexAlignDefs::NotImplemented("sub-model classes are not built in");
}

bool vcFlexSubModelGfndResult::isOverlapping(const vcFlexSubModel&, const vcFlexSubModelResult&,
                                             const vcFlexSubModelRunParams&) const {
  throw vcFlexAlignDefs::NotImplemented("sub-model classes are not built in");
}
#endif
