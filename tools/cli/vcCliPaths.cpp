#include "tools/cli/vcCliPaths.h"

#include <sys/stat.h>

namespace fs = std::filesystem;

vcCliInputs::Entry vcCliInputs::entryOf(const std::string& path) {
  Entry e;
  std::error_code ec;
  e.canonical = fs::weakly_canonical(fs::absolute(path, ec), ec);
  e.name = path;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    e.exists = true;
    e.device = st.st_dev;
    e.inode = st.st_ino;
  }
  return e;
}

const std::string* vcCliInputs::same(const Entry& e) const {
  for (const Entry& in : inputs_)
    if (in.canonical == e.canonical ||
        (in.exists && e.exists && in.device == e.device && in.inode == e.inode))
      return &in.name;
  return nullptr;
}

void vcCliInputs::add(const std::string& path) { inputs_.push_back(entryOf(path)); }

const std::string* vcCliInputs::replacedBy(const std::string& path) const {
  return same(entryOf(path));
}

const std::string* vcCliInputs::inFolder(const std::string& folder) const {
  const fs::path f = entryOf(folder).canonical;
  for (const Entry& in : inputs_)
    if (in.canonical.parent_path() == f) return &in.name;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (const std::string* name = same(entryOf(it->path().string()))) return name;
  return nullptr;
}
