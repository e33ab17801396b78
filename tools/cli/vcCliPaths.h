// The files a command reads, so that no output replaces one: an output names an input when
// both are the same path once symbolic links are resolved, or the same file under another
// name (a hard link: the same device and inode).
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

class vcCliInputs {
 public:
  void add(const std::string& path);
  // The input (as it was named) that writing `path` would replace, or null.
  const std::string* replacedBy(const std::string& path) const;
  // An input that lies directly in `folder`, under its own name or another (a hard link
  // there), or null: a folder an output fills.
  const std::string* inFolder(const std::string& folder) const;

 private:
  struct Entry {
    std::filesystem::path canonical;
    std::string name;
    dev_t device = 0;
    ino_t inode = 0;
    bool exists = false;
  };
  static Entry entryOf(const std::string& path);
  const std::string* same(const Entry& e) const;

  std::vector<Entry> inputs_;
};
