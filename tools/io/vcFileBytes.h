// A whole file read into memory by the tools' readers (images, pattern files), bounded before
// anything is read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A regular file's bytes. A folder, a device or pipe (/dev/zero would never end), or a file
// over `limit` bytes is refused with vcBadParams naming the file, before anything is read.
std::vector<std::uint8_t> vfReadFileBytes(const std::string& path, std::uint64_t limit);
// Replaces the file `path` by the bytes at once: they are written to a new temporary file
// beside it (created exclusively, never through a symbolic link planted at its name) that
// then takes the name. A link or hard link at `path` is replaced, not written through, and a
// reader never sees half a file. vcBadParams naming the file when it cannot be written.
void vfWriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
void vfWriteFileBytes(const std::string& path, const std::string& bytes);
// vcBadParams when the path holds a NUL byte: the system would read it cut there.
void vfCheckPathText(const std::string& path);
