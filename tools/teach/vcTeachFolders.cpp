#include "tools/teach/vcTeachFolders.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace fs = std::filesystem;

namespace {

fs::path canonicalOf(const fs::path& p) {
  std::error_code ec;
  // Follows every link of the part that exists; the rest is only made lexically normal.
  fs::path c = fs::weakly_canonical(fs::absolute(p, ec), ec);
  if (ec) throw vcTeachRefused(p.string() + ": cannot resolve the path");
  return c;
}

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

vcTeachFolders::vcTeachFolders(const fs::path& base) : base_(base.empty() ? "." : base) {
  add(base_);
}

void vcTeachFolders::add(const fs::path& folder) {
  std::error_code ec;
  const fs::path c = fs::canonical(folder.empty() ? "." : folder, ec);
  if (ec || !fs::is_directory(c)) throw vcTeachRefused(folder.string() + ": not a folder");
  if (std::find(folders_.begin(), folders_.end(), c) == folders_.end()) folders_.push_back(c);
}

bool vcTeachFolders::inside(const fs::path& c) const {
  for (const fs::path& f : folders_) {
    // Component by component: /data/images2 is not inside /data/images.
    auto a = f.begin(), b = c.begin();
    while (a != f.end() && b != c.end() && *a == *b) ++a, ++b;
    if (a == f.end() && b != c.end()) return true;
  }
  return false;
}

fs::path vcTeachFolders::path(const std::string& name) const {
  if (name.empty() || name.find('\0') != std::string::npos)
    throw vcTeachRefused("expected a file name");
  const fs::path given(name);
  const fs::path p = given.is_absolute() ? given : base_ / given;
  if (!inside(canonicalOf(p)))
    throw vcTeachRefused(name + ": outside the folders this teach session serves");
  return p;
}

fs::path vcTeachFolders::file(const std::string& name) const {
  const fs::path p = path(name);
  std::error_code ec;
  if (!fs::is_regular_file(p, ec)) throw vcTeachMissing(name + ": no such file");
  return p;
}

std::string vcTeachFolders::nameOf(const fs::path& file) const {
  // As the user spelt both paths: a link keeps its own name.
  const fs::path a = fs::absolute(file).lexically_normal();
  const fs::path r = a.lexically_relative(fs::absolute(base_).lexically_normal());
  return r.empty() ? a.string() : r.generic_string();
}

std::vector<std::string> vcTeachFolders::images() const {
  std::set<std::string> out;
  for (const fs::path& f : folders_) {
    std::error_code ec;
    for (fs::directory_iterator it(f, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string ext = lower(it->path().extension().string());
      const bool image =
          std::any_of(std::begin(kVcTeachImageExtensions), std::end(kVcTeachImageExtensions),
                      [&](const char* e) { return ext == e; });
      std::error_code fe;
      if (!image || !it->is_regular_file(fe)) continue;
      // A link to a file elsewhere is not offered: it could not be opened.
      if (!inside(canonicalOf(it->path()))) continue;
      const fs::path r = it->path().lexically_relative(canonicalOf(base_));
      out.insert(r.empty() ? it->path().string() : r.generic_string());
    }
  }
  return {out.begin(), out.end()};
}
