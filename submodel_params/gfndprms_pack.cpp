#include "submodel_params/gfndprms_pack.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/core/vcException.h"

namespace {

std::string trim(const std::string& s) {
  const char* blanks = " \t\r\f\v";
  const std::size_t b = s.find_first_not_of(blanks);
  if (b == std::string::npos) return std::string();
  const std::size_t e = s.find_last_not_of(blanks);
  return s.substr(b, e - b + 1);
}

bool isKeyChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '-';
}

long fail(std::string* err, const std::string& message, long status) {
  if (err) *err = message;
  return status;
}

}  // namespace

long vcParamAccess::parseCustomPack(const std::string& text, const std::string& source,
                                    std::string& out, std::string* err) {
  std::string result;
  std::set<std::string> seen;
  std::istringstream in(text);
  std::string line;
  long number = 0;
  while (std::getline(in, line)) {
    ++number;
    const std::string t = trim(line);
    if (t.empty() || t[0] == '#') continue;
    const std::string where = source + ":" + std::to_string(number) + ": ";
    const std::size_t eq = t.find('=');
    if (eq == std::string::npos)
      return fail(err, where + "expected 'key = value'", vcStatusBadParams);
    const std::string key = trim(t.substr(0, eq));
    const std::string value = trim(t.substr(eq + 1));
    if (key.empty()) return fail(err, where + "missing key before '='", vcStatusBadParams);
    for (char c : key)
      if (!isKeyChar(c))
        return fail(err, where + "invalid character in key '" + key + "'", vcStatusBadParams);
    if (!seen.insert(key).second)
      return fail(err, where + "key '" + key + "' is set twice", vcStatusBadParams);
    result += key + " = " + value + "\n";
  }
  out = result;
  return vcStatusOk;
}

long vcParamAccess::readFileCustomPack(const std::string& path, std::string& out,
                                       std::string* err) {
  std::error_code ec;
  // A directory opens as a stream on some systems and then reads as empty.
  if (std::filesystem::is_directory(path, ec))
    return fail(err, "parameter-pack path '" + path + "' is a directory", vcStatusIoError);
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(err, "cannot open parameter-pack file '" + path + "'", vcStatusIoError);
  std::ostringstream text;
  text << in.rdbuf();
  // An empty file leaves failbit from the stream copy; only badbit means a failed read.
  if (in.bad()) return fail(err, "cannot read parameter-pack file '" + path + "'", vcStatusIoError);
  return parseCustomPack(text.str(), path, out, err);
}
