// Parses arbitrary bytes as a parameter pack: a failure leaves the output alone and says why,
// and what a good pack yields parses again to itself.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/core/vcException.h"
#include "submodel_params/gfndprms_pack.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string out = "untouched", err;
  try {
    const long status = vcParamAccess::parseCustomPack(text, "fuzz", out, &err);
    // A failure leaves the output alone and says why.
    if (status < 0 && (out != "untouched" || err.empty())) __builtin_trap();
    if (status >= 0) {
      // The settings read back parse to themselves.
      std::string again;
      if (vcParamAccess::parseCustomPack(out, "again", again, nullptr) < 0 || again != out)
        __builtin_trap();
    }
  } catch (const vcException&) {
  }
  return 0;
}
