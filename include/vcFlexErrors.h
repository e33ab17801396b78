// The library's error families and the scope classes that carry its enumerations.
//
// Three families hold a message (vcExceptionWithString): vcFlexAlignDefs (the FlexAlign tool,
// its parameters and the DOF table), vcFlexModelDefs (sub-models and arrangements) and
// vc_SubModelToolDefs (defined and persistable; nothing raises it). Every concrete error has a
// fixed number, archives as one version byte of its own, one of its family base, then the
// message, and can rethrow itself by its dynamic type.
#pragma once

#include <string>

#include "platform/core/vcException.h"

class vcArchive;

// Declares one concrete error class of a message family. Each has the same members; only the
// name and number differ, so spelling them out 24 times would only hide typos.
#define VC_FLEX_DECLARE_ERROR(Name)                        \
  class Name : public Errors {                             \
   public:                                                 \
    explicit Name(const std::string& msg = std::string()); \
    Name(const Name&) = default;                           \
    ~Name() override = default;                            \
    void dispatchSerialize(vcArchive& ar) override;        \
    long errorNumber() const override;                     \
    [[noreturn]] void suicideAndRethrow() override;        \
    static vcPersistent* make();                           \
                                                           \
   protected:                                              \
    void serialize_(vcArchive& ar, unsigned char version); \
  }

// Declares the abstract base of a message family.
#define VC_FLEX_DECLARE_ERROR_FAMILY_BASE()                             \
  class Errors : public vcExceptionWithString {                         \
   public:                                                              \
    Errors(const Errors&) = default;                                    \
    Errors& operator=(const Errors&) = default;                         \
    ~Errors() override = default;                                       \
    void dispatchSerialize(vcArchive& ar) override;                     \
    virtual long errorNumber() const = 0;                               \
    /* Rethrows a copy by dynamic type and deletes this heap object. */ \
    [[noreturn]] virtual void suicideAndRethrow() = 0;                  \
                                                                        \
   protected:                                                           \
    explicit Errors(const std::string& msg);                            \
    void serialize_(vcArchive& ar, unsigned char version);              \
  }

struct vcFlexAlignDefs {
  enum FinalFitMode {
    eNone = 1,
    eAutomatic = 2,
    eLinearTranslation = 3,
    eLinearTranslationRotation = 4,
    eLinearTranslationScale = 5,
    eLinearTranslationRotationScale = 6,
    eLinearTranslationRotationScaleAspect = 7,
    eLinearTranslationRotationScaleAspectSkew = 8,
    ePolynomialOrder1 = 9,
    ePolynomialOrder2 = 10,
    ePolynomialOrder3 = 11,
  };
  enum RunStrategy { eIndependentSubModels = 1, eLocallyFixturedSubModels = 2 };
  enum RunOrderMode { eExplicitOrdering = 1, eAutomaticOrdering = 2 };
  enum XYUncertaintyMode { eElliptical = 1, eRectangular = 2 };
  enum DOFMode { eStandard = 1, eAdvanced = 2, eCustom = 3 };
  enum StandardDOF { eAngle = 1, eUniformScale = 2, eXScale = 4, eYScale = 8 };
  enum AdvancedDOF { eRotation = 1, eScale = 2, eSkew = 4, eAspect = 8 };

  VC_FLEX_DECLARE_ERROR_FAMILY_BASE();
  VC_FLEX_DECLARE_ERROR(BadParams);               // 0x10005D06
  VC_FLEX_DECLARE_ERROR(CanNotTrain);             // 0x10005D07
  VC_FLEX_DECLARE_ERROR(NotTrained);              // 0x10005D08
  VC_FLEX_DECLARE_ERROR(BadImage);                // 0x10005D09
  VC_FLEX_DECLARE_ERROR(BadIndex);                // 0x10005D0A
  VC_FLEX_DECLARE_ERROR(WrongDOFMode);            // 0x10005D0B
  VC_FLEX_DECLARE_ERROR(NotImplemented);          // 0x10005D0C
  VC_FLEX_DECLARE_ERROR(InternalError);           // 0x10005D0D
  VC_FLEX_DECLARE_ERROR(CanNotRun);               // 0x10005D0E
  VC_FLEX_DECLARE_ERROR(CanNotFit);               // 0x10005D0F
  VC_FLEX_DECLARE_ERROR(DistortionRateTooLarge);  // 0x10005D10
  VC_FLEX_DECLARE_ERROR(BadArrangement);          // 0x10005D11
  VC_FLEX_DECLARE_ERROR(NotComputed);             // 0x10005D12
};

struct vcFlexModelDefs {
  // Kind of a sub-model; archived as one unsigned byte.
  enum ModelType { eBlank = 1, eImage = 2, eSynthetic = 3 };

  VC_FLEX_DECLARE_ERROR_FAMILY_BASE();
  VC_FLEX_DECLARE_ERROR(BadParams);       // 0x10005D01
  VC_FLEX_DECLARE_ERROR(WrongModelType);  // 0x10005D02
  VC_FLEX_DECLARE_ERROR(InternalError);   // 0x10005D03
  VC_FLEX_DECLARE_ERROR(NotImplemented);  // 0x10005D04
  VC_FLEX_DECLARE_ERROR(BadIndex);        // 0x10005D05
};

struct vc_SubModelToolDefs {
  VC_FLEX_DECLARE_ERROR_FAMILY_BASE();
  VC_FLEX_DECLARE_ERROR(BadImage);        // 0x10005D21
  VC_FLEX_DECLARE_ERROR(InternalError);   // 0x10005D22
  VC_FLEX_DECLARE_ERROR(CanNotTrain);     // 0x10005D23
  VC_FLEX_DECLARE_ERROR(CanNotRun);       // 0x10005D24
  VC_FLEX_DECLARE_ERROR(NotTrained);      // 0x10005D25
  VC_FLEX_DECLARE_ERROR(NotImplemented);  // 0x10005D26
};

#undef VC_FLEX_DECLARE_ERROR
#undef VC_FLEX_DECLARE_ERROR_FAMILY_BASE
