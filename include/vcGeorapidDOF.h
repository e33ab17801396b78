// Degrees of freedom searched by the Geofind engine, besides translation. Public: the run
// parameters hold a DOF list, and a caller builds one for their custom DOF modes.
//
// A DOF is one parameter of the linear part of the pose (rotation, a scale, aspect, skew) with a
// search range and an overlap tolerance used to tell two results apart. DOFs form a chain: each
// wraps the next inner one (`next()`), outermost first, and owns it. A vcGeorapidDOFList holds
// one chain. The pose a chain describes is
//     startPose.linear * D(outermost) * ... * D(innermost)
// i.e. the innermost DOF acts first on pattern coordinates. The standard chains are built
// innermost first: new vcGeorapidScale(new vcGeorapidAngle(nullptr, 1), 1), ...
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/core/vcMatrix.h"
#include "platform/core/vcPersistent.h"
#include "platform/core/vcXform.h"

class vcArchive;

class vxGeorapidDOF : public virtual vcPersistent {
 public:
  enum Kind {
    eAngle = 1,
    eScale = 2,
    eXScale = 3,
    eYScale = 4,
    eScaleLinear = 5,
    eAspectLinear = 6,
    eSkew = 7,
    eStartPose = 8,
  };

  ~vxGeorapidDOF() override;
  vxGeorapidDOF(const vxGeorapidDOF&) = delete;
  vxGeorapidDOF& operator=(const vxGeorapidDOF&) = delete;

  virtual Kind kind() const = 0;
  virtual const char* name() const = 0;
  // A deep copy of this DOF and of its inner chain.
  virtual vxGeorapidDOF* clone() const = 0;

  // The inner DOF (null for the innermost). Setting one deletes the previous inner chain when
  // this DOF owns it.
  vxGeorapidDOF* next() const { return next_; }
  void next(vxGeorapidDOF* inner, bool own = true);
  // Detaches the inner chain without deleting it.
  vxGeorapidDOF* releaseNext();
  bool ownsNext() const { return ownsNext_; }

  // Search range in the DOF's unit (degrees for angles, a factor for scales and aspect).
  void range(double low, double high);
  double low() const { return low_; }
  double high() const { return high_; }
  bool isFixed() const { return low_ == high_; }
  // Overlap value: results whose values differ by no more than overlapTolerance() are one.
  void overlap(float v);
  float overlap() const { return overlap_; }
  // Period for a circular DOF (360 degrees for rotation); 0 for a non-circular one.
  virtual float circular() const { return 0.0f; }
  // The overlap value as a largest value difference: the value itself for additive DOFs,
  // (overlap - 1) x range centre for multiplicative ones, never negative.
  virtual double overlapTolerance() const;
  // The value at which the DOF leaves the pose unchanged.
  virtual double identityValue() const { return 0.0; }
  // True when the DOF multiplies (scales, aspect); its step is relative then.
  virtual bool isMultiplicative() const { return false; }
  // The DOF's linear map at value v, applied before (to the right of) the outer DOFs' maps.
  virtual vcMatrix<2> matrix(double v) const = 0;
  // d matrix / dv at v (for the least-squares refinement).
  virtual vcMatrix<2> derivative(double v) const = 0;

  // Same kind and equal range, overlap (and start pose); with `deep`, the inner chains too.
  virtual bool equal(const vxGeorapidDOF& o, bool deep) const;

  void dispatchSerialize(vcArchive& ar) override;

 protected:
  explicit vxGeorapidDOF(vxGeorapidDOF* inner, int ownInner);
  void serialize_(vcArchive& ar, unsigned char version);
  // Copies range and overlap and clones the inner chain into `to`.
  void copyInto_(vxGeorapidDOF& to) const;

 private:
  vxGeorapidDOF* next_ = nullptr;
  bool ownsNext_ = true;
  double low_ = 0.0;
  double high_ = 0.0;
  float overlap_ = 0.0f;
};

// The members every searched DOF kind declares alike; each kind defines its map and derivative.
#define VC_GEORAPID_DOF_MEMBERS(Class, KindValue, Name)             \
 public:                                                            \
  explicit Class(vxGeorapidDOF* inner = nullptr, int ownInner = 1); \
  Kind kind() const override { return KindValue; }                  \
  const char* name() const override { return Name; }                \
  vxGeorapidDOF* clone() const override;                            \
  vcMatrix<2> matrix(double v) const override;                      \
  vcMatrix<2> derivative(double v) const override;                  \
  void dispatchSerialize(vcArchive& ar) override;                   \
  static vcPersistent* make() { return new Class; }

// A DOF that multiplies (scales, aspect): identity at 1, steps and overlap relative. Adds no
// data and no archive level.
class vxGeorapidFactorDOF : public vxGeorapidDOF {
 public:
  double overlapTolerance() const override;
  double identityValue() const override { return 1.0; }
  bool isMultiplicative() const override { return true; }

 protected:
  using vxGeorapidDOF::vxGeorapidDOF;
};

// Rotation in degrees; circular with period 360.
class vcGeorapidAngle : public vxGeorapidDOF {
  VC_GEORAPID_DOF_MEMBERS(vcGeorapidAngle, eAngle, "Angle")
  float circular() const override { return 360.0f; }
};

// Uniform scale factor.
class vcGeorapidScale : public vxGeorapidFactorDOF {
  VC_GEORAPID_DOF_MEMBERS(vcGeorapidScale, eScale, "Scale")
};

// Scale factor along the pattern's x axis.
class vcGeorapidXScale : public vxGeorapidFactorDOF {
  VC_GEORAPID_DOF_MEMBERS(vcGeorapidXScale, eXScale, "X-Scale")
};

// Scale factor along the pattern's y axis.
class vcGeorapidYScale : public vxGeorapidFactorDOF {
  VC_GEORAPID_DOF_MEMBERS(vcGeorapidYScale, eYScale, "Y-Scale")
};

// Uniform scale of the advanced set (same map as vcGeorapidScale).
class vcGeorapidScaleLinear : public vxGeorapidFactorDOF {
  VC_GEORAPID_DOF_MEMBERS(vcGeorapidScaleLinear, eScaleLinear, "Scale")
};

// Aspect: the y axis is scaled by v relative to the x axis.
class vcGeorapidAspectLinear : public vxGeorapidFactorDOF {
  VC_GEORAPID_DOF_MEMBERS(vcGeorapidAspectLinear, eAspectLinear, "Aspect")
};

// Skew in degrees: the y axis turns by v while the x axis stays.
class vcGeorapidSkew : public vxGeorapidDOF {
  VC_GEORAPID_DOF_MEMBERS(vcGeorapidSkew, eSkew, "Skew")
};

#undef VC_GEORAPID_DOF_MEMBERS

// Not searched: carries the expected pose (client from pattern) around which the other DOFs
// and the search window are taken. Its matrix is the identity; the engine reads xform().
class vcGeorapidStartPose : public vxGeorapidDOF {
 public:
  explicit vcGeorapidStartPose(vxGeorapidDOF* inner = nullptr,
                               const vcXform<2>& pose = vcXform<2>());
  Kind kind() const override { return eStartPose; }
  const char* name() const override { return "Start Pose"; }
  vxGeorapidDOF* clone() const override;
  const vcXform<2>& xform() const { return pose_; }
  void xform(const vcXform<2>& x);
  vcMatrix<2> matrix(double) const override { return vcMatrix<2>(); }
  vcMatrix<2> derivative(double) const override { return vcMatrix<2>(0, 0, 0, 0); }
  bool equal(const vxGeorapidDOF& o, bool deep) const override;
  void dispatchSerialize(vcArchive& ar) override;
  static vcPersistent* make() { return new vcGeorapidStartPose; }

 protected:
  void serialize_(vcArchive& ar, unsigned char version);

 private:
  vcXform<2> pose_;
};

// Owns one chain of DOFs. Copying clones the chain.
class vcGeorapidDOFList {
 public:
  vcGeorapidDOFList() = default;
  vcGeorapidDOFList(const vcGeorapidDOFList& o);
  vcGeorapidDOFList& operator=(const vcGeorapidDOFList& o);
  vcGeorapidDOFList(vcGeorapidDOFList&& o) noexcept;
  vcGeorapidDOFList& operator=(vcGeorapidDOFList&& o) noexcept;
  ~vcGeorapidDOFList();

  // Replaces the chain by the one starting at `head` (taken over; null empties the list).
  void assign(vxGeorapidDOF* head);
  // Appends `dof` (with its inner chain) after the innermost DOF; taken over.
  void push_back(vxGeorapidDOF* dof);
  void clear();
  bool empty() const { return head_ == nullptr; }
  std::size_t size() const;
  // The outermost DOF (null when empty) and the i-th DOF, counted from the outermost.
  vxGeorapidDOF* head() const { return head_; }
  vxGeorapidDOF* at(std::size_t i) const;
  std::vector<vxGeorapidDOF*> dofs() const;
  // Gives up the chain without deleting it.
  vxGeorapidDOF* release();
  // Same length and pairwise equal DOFs (`deep` also compares start poses and inner links).
  bool equal(const vcGeorapidDOFList& o, bool deep) const;

 private:
  vxGeorapidDOF* head_ = nullptr;
};

// Stores or loads the list as a persistent pointer chain.
void vfSerializeDOFList(vcArchive& ar, const vcPersistent* owner, vcGeorapidDOFList& list);
