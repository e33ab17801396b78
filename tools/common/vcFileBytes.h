// A whole file read into memory by the tools' readers (images, pattern files), bounded before
// anything is read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A regular file's bytes. A folder, a device or pipe (/dev/zero would never end), or a file
// over `limit` bytes is refused with vcBadParams naming the file, before anything is read.
std::vector<std::uint8_t> vfReadFileBytes(const std::string& path, std::uint64_t limit);
// Writes the bytes; vcBadParams naming the file when it cannot be written completely.
void vfWriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
