// Base of every object that can be exchanged with a vcArchive.
//
// Each class level implements dispatchSerialize: skip if the archive already marks
// (this, sizeof level) as visited in the current pass, else exchange one version byte,
// call the level's serialize_, then mark the level visited.
#pragma once

#include <cstddef>
#include <string>
#include <vector>
#include <typeinfo>

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

// Registers a factory under a class's run-time type so that archives can recreate it by name.
class vc_Instantiator {
 public:
  vc_Instantiator(const std::type_info& type, vcPersistentFactory make);
};

// Looks up a registered factory by type name; null when unknown.
vcPersistentFactory vfFindPersistentFactory(const char* typeName);

// The type names of every registered class, sorted (for tools that walk all of them).
std::vector<std::string> vfRegisteredPersistentNames();
