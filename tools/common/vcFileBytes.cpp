#include "tools/common/vcFileBytes.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/core/vcException.h"

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& problem) {
  throw vcBadParams(path + ": " + problem);
}

}  // namespace

std::vector<std::uint8_t> vfReadFileBytes(const std::string& path, std::uint64_t limit) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (ec || !fs::exists(st)) fail(path, "cannot open the file (no such file)");
  if (fs::is_directory(st)) fail(path, "is a folder, not a file");
  if (!fs::is_regular_file(st)) fail(path, "not a regular file (a device, pipe or socket)");
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) fail(path, "cannot read the file's size");
  if (size > limit)
    fail(path, std::to_string(size) + " bytes, more than the " + std::to_string(limit) +
                   " this program reads");
  std::ifstream f(path, std::ios::binary);
  if (!f) fail(path, std::string("cannot open the file (") + std::strerror(errno) + ")");
  std::vector<std::uint8_t> bytes(size);
  f.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(size));
  if (std::uintmax_t(f.gcount()) != size) fail(path, "cannot read the whole file");
  return bytes;
}

void vfWriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) fail(path, std::string("cannot create the file (") + std::strerror(errno) + ")");
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!f.flush()) fail(path, "cannot write the whole file (disk full?)");
}
