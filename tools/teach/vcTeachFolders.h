// The folders a teach session may read: the training image's, the description's, the run
// image folders it was given and those of the files an opened description names. Every file
// the page asks for, and every file a description it sends names, passes one test: the file,
// with every symbolic link followed, lies inside one of these folders. Names are written as
// a description writes them, relative to the description's folder.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

// A name that reaches outside the served folders: the server answers 403 with the text.
struct vcTeachRefused : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// A name inside the folders for which there is no regular file: 404.
struct vcTeachMissing : vcTeachRefused {
  using vcTeachRefused::vcTeachRefused;
};

// Extensions (lower case) of the files offered as run images, as `flexalign run` takes a
// folder's images.
inline constexpr const char* kVcTeachImageExtensions[] = {".png",  ".jpg", ".jpeg", ".tif",
                                                          ".tiff", ".bmp", ".pgm",  ".ppm"};

class vcTeachFolders {
 public:
  // `base`: the folder names are relative to (the description's); it is served too.
  explicit vcTeachFolders(const std::filesystem::path& base);

  // Serves `folder` too (an existing folder; symbolic links resolved).
  void add(const std::filesystem::path& folder);
  const std::vector<std::filesystem::path>& folders() const { return folders_; }
  const std::filesystem::path& base() const { return base_; }

  // The path `name` gives (absolute, or relative to the base), after the check: vcTeachRefused
  // when it lies outside every folder once symbolic links are followed (whether it exists or
  // not). The path is returned as the description reader would form it, so messages about it
  // read as the command's.
  std::filesystem::path path(const std::string& name) const;
  // The same for a file that must exist as a regular file (vcTeachMissing otherwise).
  std::filesystem::path file(const std::string& name) const;
  // How a description names `file`: relative to the base, as both are spelt.
  std::string nameOf(const std::filesystem::path& file) const;
  // The image files (by extension, any case) directly inside the folders, by name, sorted.
  std::vector<std::string> images() const;

 private:
  bool inside(const std::filesystem::path& canonical) const;

  std::filesystem::path base_;
  std::vector<std::filesystem::path> folders_;  // canonical
};
