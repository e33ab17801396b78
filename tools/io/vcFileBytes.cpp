#include "tools/io/vcFileBytes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/core/vcException.h"

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& problem) {
  throw vcBadParams(path + ": " + problem);
}

}  // namespace

void vfCheckPathText(const std::string& path) {
  const auto nul = path.find('\0');
  if (nul != std::string::npos)
    fail(path.substr(0, nul) + "\\0...", "a file name may not hold a NUL byte");
}

std::vector<std::uint8_t> vfReadFileBytes(const std::string& path, std::uint64_t limit) {
  namespace fs = std::filesystem;
  vfCheckPathText(path);
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

namespace {

void writeAll(const std::string& path, const char* data, std::size_t size) {
  vfCheckPathText(path);
  namespace fs = std::filesystem;
  const fs::path target(path);
  const fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  std::random_device rd;
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
    char tag[24];
    std::snprintf(tag, sizeof tag, ".%08x%08x.tmp", unsigned(rd()), unsigned(rd()));
    tmp = (dir / ("." + target.filename().string() + tag)).string();
    // O_EXCL with O_NOFOLLOW: a new file, never one (or a link's target) already there.
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) fail(path, std::string("cannot create the file (") + std::strerror(errno) + ")");
  for (std::size_t at = 0; at < size;) {
    const ssize_t n = ::write(fd, data + at, size - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int e = errno;
      ::close(fd);
      ::unlink(tmp.c_str());
      fail(path, std::string("cannot write the whole file (") + std::strerror(e) + ")");
    }
    at += std::size_t(n);
  }
  if (::close(fd) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
    const int e = errno;
    ::unlink(tmp.c_str());
    fail(path, std::string("cannot create the file (") + std::strerror(e) + ")");
  }
}

}  // namespace

void vfWriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  writeAll(path, reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void vfWriteFileBytes(const std::string& path, const std::string& bytes) {
  writeAll(path, bytes.data(), bytes.size());
}
