// Reader of parameter-pack files: the engine customisation text of a Geofind training.
//
// A pack is plain text, one setting per line as `key = value`. Blank lines and lines whose
// first non-blank character is '#' are ignored; blanks around keys and values are dropped.
// Keys are made of letters, digits, '_', '.' and '-', and each key may appear once.
#pragma once

#include <string>

class vcParamAccess {
 public:
  // Reads the pack at `path` into `out` as its settings in file order, one "key = value\n"
  // line each. Returns vcStatusOk, or vcStatusIoError when the file cannot be opened or read
  // and vcStatusBadParams when a line is malformed; then `out` is left alone and `err` (when
  // given) receives a message naming the file and, for a bad line, its number.
  static long readFileCustomPack(const std::string& path, std::string& out, std::string* err);

  // The same parser over text already in memory (`source` names it in messages).
  static long parseCustomPack(const std::string& text, const std::string& source, std::string& out,
                              std::string* err);
};
