// Loads arbitrary bytes as archives. The first byte picks the target: a registered persistent
// class (made through the registry), a polymorphic pointer whose class the bytes name, or one
// of the value classes archived through their own operator||. Loading may fail only with a
// library exception; whatever loads is stored again, and what is stored must load into a
// fresh object that stores the very same bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/vcArchive.h"
#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcShapes.h"
#include "vcFlexAlign.h"
#include "vcGeorapidDOF.h"

namespace {

// Stores `obj`, loads the bytes into `fresh` and stores that again: the two stores must agree.
// A refusal here is a fault too, so it traps rather than throws.
template <class T>
void storeThenLoad(T& obj, T& fresh) {
  vcArchive out;
  out || obj;
  try {
    vcArchive back(out.bytes());
    back || fresh;
    vcArchive again;
    again || fresh;
    if (again.bytes() != out.bytes()) __builtin_trap();
  } catch (const vcException&) {
    __builtin_trap();
  }
}

template <class T>
void loadAndStore(vcArchive& in, T& obj) {
  in || obj;
  T fresh;
  storeThenLoad(obj, fresh);
}

void loadTarget(unsigned pick, vcArchive& in) {
  static const std::vector<std::string> names = vfRegisteredPersistentNames();
  if (pick < names.size()) {
    const auto make = vfFindPersistentFactory(names[pick].c_str());
    std::unique_ptr<vcPersistent> obj(make()), fresh(make());
    in || *obj;
    storeThenLoad(*obj, *fresh);
    return;
  }
  switch ((pick - names.size()) % 13) {
    case 0: {
      vcPersistent* p = nullptr;
      serializePointer(in, nullptr, p);
      if (p && !dynamic_cast<vcRepBase*>(p)) delete p;  // shared ones go with the archive
      break;
    }
    case 1: {
      vc_SubModelResultSet set;
      loadAndStore(in, set);
      break;
    }
    case 2: {
      vc_SubModelTool tool;
      loadAndStore(in, tool);
      break;
    }
    case 3: {
      vcFlexSubModel s;
      loadAndStore(in, s);
      break;
    }
    case 4: {
      vcFlexArrangement a;
      loadAndStore(in, a);
      break;
    }
    case 5: {
      vcGeorapidDOFList list;
      vfSerializeDOFList(in, nullptr, list);
      break;
    }
    case 6: {
      vcPelBuffer<unsigned char> img;
      loadAndStore(in, img);
      break;
    }
    case 7: {
      vcPolygon poly;
      loadAndStore(in, poly);
      break;
    }
    case 8: {
      vcFlexAlignTrainParams p;
      loadAndStore(in, p);
      break;
    }
    case 9: {
      vcFlexAlignRunParams p;
      loadAndStore(in, p);
      break;
    }
    case 10: {
      vcFlexAlignResultSet set;
      loadAndStore(in, set);
      break;
    }
    case 11: {
      vcFlexAlignPattern pattern;
      loadAndStore(in, pattern);
      break;
    }
    default: {
      vcFlexAlignDeformation d;
      loadAndStore(in, d);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  vcArchive in(std::vector<std::uint8_t>(data + 1, data + size));
  try {
    loadTarget(data[0], in);
  } catch (const vcException&) {
    // A clear refusal is the expected outcome for damaged data.
  }
  return 0;
}
