// The library's archivable classes: the fixed name an archive carries for each, and the name
// archives written before fixed names carry for it.
//
// The list sits at the top of the library because it names classes of every layer. The archive
// reads it on first use, so no class depends on a static initialiser in an object file the
// linker may leave out of a program, and the library needs no whole-archive linking.
//
// Older names are g++ 12's `typeid().name()` of each class, which archives held until fixed
// names replaced them. They are written down here, not computed, so older files keep loading
// whatever compiler builds this one. A fixed name never changes once files carry it.

#include <span>
#include <typeinfo>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcPersistent.h"
#include "platform/display/vc2Wireframe.h"
#include "vcFlexErrors.h"
#include "vcFlexGeometry.h"
#include "vcFlexSubModelParams.h"
#include "vcGeorapidDOF.h"

namespace {

template <class T>
constexpr vcPersistentClass entry(const char* name, const char* olderName) {
  return {name, olderName, &typeid(T), &T::make};
}

using AD = vcFlexAlignDefs;
using MD = vcFlexModelDefs;
using TD = vc_SubModelToolDefs;
using IM = vc2XformInterpMap;

constexpr vcPersistentClass kClasses[] = {
    // Transforms and drawing.
    entry<vc2XformLinear>("vc2XformLinear", "14vc2XformLinear"),
    entry<vc2XformPoly>("vc2XformPoly", "12vc2XformPoly"),
    entry<vc2XformPolyInverse>("vc2XformPolyInverse", "19vc2XformPolyInverse"),
    entry<vc2XformComposed>("vc2XformComposed", "16vc2XformComposed"),
    entry<vc2Wireframe>("vc2Wireframe", "12vc2Wireframe"),
    // Geofind's degrees of freedom.
    entry<vcGeorapidAngle>("vcGeorapidAngle", "15vcGeorapidAngle"),
    entry<vcGeorapidScale>("vcGeorapidScale", "15vcGeorapidScale"),
    entry<vcGeorapidXScale>("vcGeorapidXScale", "16vcGeorapidXScale"),
    entry<vcGeorapidYScale>("vcGeorapidYScale", "16vcGeorapidYScale"),
    entry<vcGeorapidScaleLinear>("vcGeorapidScaleLinear", "21vcGeorapidScaleLinear"),
    entry<vcGeorapidAspectLinear>("vcGeorapidAspectLinear", "22vcGeorapidAspectLinear"),
    entry<vcGeorapidSkew>("vcGeorapidSkew", "14vcGeorapidSkew"),
    entry<vcGeorapidStartPose>("vcGeorapidStartPose", "19vcGeorapidStartPose"),
    // Error families.
    entry<AD::BadParams>("vcFlexAlignDefs::BadParams", "N15vcFlexAlignDefs9BadParamsE"),
    entry<AD::CanNotTrain>("vcFlexAlignDefs::CanNotTrain", "N15vcFlexAlignDefs11CanNotTrainE"),
    entry<AD::CanNotRun>("vcFlexAlignDefs::CanNotRun", "N15vcFlexAlignDefs9CanNotRunE"),
    entry<AD::NotTrained>("vcFlexAlignDefs::NotTrained", "N15vcFlexAlignDefs10NotTrainedE"),
    entry<AD::BadImage>("vcFlexAlignDefs::BadImage", "N15vcFlexAlignDefs8BadImageE"),
    entry<AD::BadIndex>("vcFlexAlignDefs::BadIndex", "N15vcFlexAlignDefs8BadIndexE"),
    entry<AD::WrongDOFMode>("vcFlexAlignDefs::WrongDOFMode", "N15vcFlexAlignDefs12WrongDOFModeE"),
    entry<AD::NotImplemented>("vcFlexAlignDefs::NotImplemented",
                              "N15vcFlexAlignDefs14NotImplementedE"),
    entry<AD::InternalError>("vcFlexAlignDefs::InternalError",
                             "N15vcFlexAlignDefs13InternalErrorE"),
    entry<AD::CanNotFit>("vcFlexAlignDefs::CanNotFit", "N15vcFlexAlignDefs9CanNotFitE"),
    entry<AD::DistortionRateTooLarge>("vcFlexAlignDefs::DistortionRateTooLarge",
                                      "N15vcFlexAlignDefs22DistortionRateTooLargeE"),
    entry<AD::BadArrangement>("vcFlexAlignDefs::BadArrangement",
                              "N15vcFlexAlignDefs14BadArrangementE"),
    entry<AD::NotComputed>("vcFlexAlignDefs::NotComputed", "N15vcFlexAlignDefs11NotComputedE"),
    entry<MD::BadParams>("vcFlexModelDefs::BadParams", "N15vcFlexModelDefs9BadParamsE"),
    entry<MD::BadIndex>("vcFlexModelDefs::BadIndex", "N15vcFlexModelDefs8BadIndexE"),
    entry<MD::WrongModelType>("vcFlexModelDefs::WrongModelType",
                              "N15vcFlexModelDefs14WrongModelTypeE"),
    entry<MD::InternalError>("vcFlexModelDefs::InternalError",
                             "N15vcFlexModelDefs13InternalErrorE"),
    entry<MD::NotImplemented>("vcFlexModelDefs::NotImplemented",
                              "N15vcFlexModelDefs14NotImplementedE"),
    entry<TD::CanNotTrain>("vc_SubModelToolDefs::CanNotTrain",
                           "N19vc_SubModelToolDefs11CanNotTrainE"),
    entry<TD::CanNotRun>("vc_SubModelToolDefs::CanNotRun", "N19vc_SubModelToolDefs9CanNotRunE"),
    entry<TD::NotTrained>("vc_SubModelToolDefs::NotTrained", "N19vc_SubModelToolDefs10NotTrainedE"),
    entry<TD::BadImage>("vc_SubModelToolDefs::BadImage", "N19vc_SubModelToolDefs8BadImageE"),
    entry<TD::NotImplemented>("vc_SubModelToolDefs::NotImplemented",
                              "N19vc_SubModelToolDefs14NotImplementedE"),
    entry<TD::InternalError>("vc_SubModelToolDefs::InternalError",
                             "N19vc_SubModelToolDefs13InternalErrorE"),
    // Geometry.
    entry<MST>("MST", "3MST"),
    entry<IM>("vc2XformInterpMap", "17vc2XformInterpMap"),
    entry<IM::BadParams>("vc2XformInterpMap::BadParams", "N17vc2XformInterpMap9BadParamsE"),
    entry<IM::NotImplemented>("vc2XformInterpMap::NotImplemented",
                              "N17vc2XformInterpMap14NotImplementedE"),
    // Sub-model parameters and results.
    entry<vcFlexSubModelCorTrainParams>("vcFlexSubModelCorTrainParams",
                                        "28vcFlexSubModelCorTrainParams"),
    entry<vcFlexSubModelCorRunParams>("vcFlexSubModelCorRunParams", "26vcFlexSubModelCorRunParams"),
    entry<vcFlexSubModelCorResult>("vcFlexSubModelCorResult", "23vcFlexSubModelCorResult"),
    entry<vc_SubModelCorTrainParams>("vc_SubModelCorTrainParams", "25vc_SubModelCorTrainParams"),
    entry<vc_SubModelCorRunParams>("vc_SubModelCorRunParams", "23vc_SubModelCorRunParams"),
    entry<vcFlexSubModelGfndTrainParams>("vcFlexSubModelGfndTrainParams",
                                         "29vcFlexSubModelGfndTrainParams"),
    entry<vcFlexSubModelGfndRunParams>("vcFlexSubModelGfndRunParams",
                                       "27vcFlexSubModelGfndRunParams"),
    entry<vcFlexSubModelGfndResult>("vcFlexSubModelGfndResult", "24vcFlexSubModelGfndResult"),
    entry<vc_SubModelGfndRunParams>("vc_SubModelGfndRunParams", "24vc_SubModelGfndRunParams"),
};

}  // namespace

std::span<const vcPersistentClass> vf_PersistentClasses() { return kClasses; }
