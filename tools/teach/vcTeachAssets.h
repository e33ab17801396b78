// The teach page's files (tools/teach/page), built into the program by a CMake step
// (tools/teach/embed.cmake), so the page needs no files, no build of its own and no network.
#pragma once

#include <cstddef>
#include <string_view>

struct vcTeachAsset {
  std::string_view path;  // as requested: "/index.html", "/teach.js", ...
  std::string_view type;  // Content-Type
  std::string_view bytes;
};

// The file served at `path` ("/" is the page itself); null when there is none.
const vcTeachAsset* vfTeachAsset(std::string_view path);

// The generated table.
extern const vcTeachAsset kVcTeachAssets[];
extern const std::size_t kVcTeachAssetCount;
