#include "tools/teach/vcTeachAssets.h"

const vcTeachAsset* vfTeachAsset(std::string_view path) {
  if (path == "/") path = "/index.html";
  for (std::size_t i = 0; i < kVcTeachAssetCount; ++i)
    if (kVcTeachAssets[i].path == path) return &kVcTeachAssets[i];
  return nullptr;
}
