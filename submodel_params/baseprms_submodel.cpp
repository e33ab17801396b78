// The results' overlap decision for a sub-model: its extent and origin inverse are all it uses.
#include "vcFlexErrors.h"
#include "vcFlexModels.h"
#include "vcFlexSubModelParams.h"

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
