// Base of every object that can be exchanged with a vcArchive.
//
// Each class level implements dispatchSerialize: skip if the archive already marks
// (this, sizeof level) as visited in the current pass, else exchange one version byte,
// call the level's serialize_, then mark the level visited.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <typeinfo>
#include <vector>

class vcArchive;

class vcPersistent {
 public:
  virtual ~vcPersistent() = default;
  virtual void dispatchSerialize(vcArchive& ar) = 0;
  // Restores the default state before a load.
  virtual void reInit() {}
  // reInit followed by dispatchSerialize on a reading archive.
  virtual void loadSimple(vcArchive& ar);

  // When set, every mutating member calls mutating_() before it changes a field.
  void notifyMutations(bool on) { notifyMutations_ = on; }
  bool notifyMutations() const { return notifyMutations_; }
  long mutationCount() const { return mutationCount_; }

 protected:
  vcPersistent() = default;
  vcPersistent(const vcPersistent&) = default;
  vcPersistent& operator=(const vcPersistent&) = default;
  void mutating_() {
    if (notifyMutations_) ++mutationCount_;
  }

 private:
  bool notifyMutations_ = false;
  long mutationCount_ = 0;
};

using vcPersistentFactory = vcPersistent* (*)();

// One archivable class: the fixed name archives carry for it, the name archives written before
// fixed names carry for it (g++'s mangled type name), its type and its factory.
struct vcPersistentClass {
  const char* name;
  const char* olderName;
  const std::type_info* type;
  vcPersistentFactory make;
};

// Every archivable class of the library, in one list defined above all the classes it names
// (flexalign/flxalign_classes.cpp). The archive reads it on first use rather than relying on
// registrations in static initialisers, which the linker drops with an unreferenced object.
std::span<const vcPersistentClass> vf_PersistentClasses();

// Looks up a factory by the name an archive holds, fixed or older; null when unknown.
vcPersistentFactory vfFindPersistentFactory(const char* typeName);

// The fixed name archives carry for a class; null for a class that cannot be archived.
const char* vfPersistentName(const std::type_info& type);

// The fixed names of every archivable class, sorted (for tools that walk all of them).
std::vector<std::string> vfRegisteredPersistentNames();
