// The diagnostic recorder: an ordered list of records, each at the recorder's level when it
// was made (levels nest records under the one that opened them). A record holds a title
// (annotation), optionally an image, and named graphic lists and texts in the order added.
// vcDiagFolderRecorder writes the records to a folder a person can open in a browser.
//
// Recording must never change results: images are copied when recorded (unless the caller
// says the pixels will not change), graphic lists are held by value, and nothing here
// throws on bad content (an unbound image, an empty list) — it is kept or ignored.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/vcPelBuffer.h"
#include "platform/diag/vcDiagFwd.h"
#include "platform/display/vcGraphic.h"

struct vcDiagDefs {
  // Kinds of record a caller's flag word can ask for.
  enum What : unsigned long {
    eInputs = 0x10000,
    eOutputs = 0x20000,
    eIntermediate = 0x40000,
    eAll = 0x70000,
  };
};

// The copies of images a recorder's records hold, each distinct one once: a run records its
// input image in many records, and a large image copied for each would take gigabytes.
class vcDiagImagePool;

class vcDiagRecord {
 public:
  enum ItemKind { eGraphicsItem, eTextItem };
  struct Item {
    ItemKind kind;
    std::string name;
    std::string text;        // text items
    vcGraphicList graphics;  // graphics items
    vcDisplay::CoordinateSystem coords = vcDisplay::eClientCoords;
  };

  explicit vcDiagRecord(long level = 0, std::shared_ptr<vcDiagImagePool> pool = nullptr)
      : level_(level), pool_(std::move(pool)) {}

  void recordAnnotation(const std::string& text) { annotation_ = text; }
  const std::string& annotation() const { return annotation_; }
  // Keeps the image (one per record; a later call replaces it). With `copy` the pixels are
  // copied now, keeping the window's root coordinates and client transform, so later changes
  // to the caller's buffer do not reach the record; records of one recorder share the copy of
  // an image equal to one recorded before. An unbound image clears the record's.
  void image(const vcPelBuffer_const<unsigned char>& img, bool copy = true);
  const vcPelBuffer_const<unsigned char>& image() const { return image_; }
  bool hasImage() const { return image_.isBound(); }
  void graphics(const vcGraphicList& list, vcDisplay::CoordinateSystem coords,
                const std::string& name);
  void graphics(const vcGraphicList& list, long coords, const std::string& name) {
    graphics(list, static_cast<vcDisplay::CoordinateSystem>(coords), name);
  }
  void text(const std::string& name, const std::string& text);

  long level() const { return level_; }
  long numItems() const { return static_cast<long>(items_.size()); }
  // Throws vcBadParams for an index out of range.
  const Item& item(long i) const;
  const std::vector<Item>& items() const { return items_; }
  // The first text item of that name, or null.
  const Item* findText(const std::string& name) const;

 private:
  long level_;
  std::shared_ptr<vcDiagImagePool> pool_;
  std::string annotation_;
  vcPelBuffer_const<unsigned char> image_;
  std::vector<Item> items_;
};

class vcDiagObject {
 public:
  vcDiagObject();
  vcDiagObject(const vcDiagObject&) = default;
  vcDiagObject& operator=(const vcDiagObject&) = default;
  virtual ~vcDiagObject() = default;

  // Whether the caller's flag word asks for records of kind `what`.
  static bool shouldRecord(unsigned long flags, unsigned long what) { return (flags & what) != 0; }
  // The recorder to write to: `diag` when it is given and `flags` asks for some kind of
  // record; otherwise none, and `flags` is cleared so that nothing further is asked for.
  static vcDiagObject* getRecordingDestination(vcDiagObject* diag, unsigned long& flags);

  // Appends a record at the current level and returns it (valid until the next append).
  vcDiagRecord& newDiagRecord();
  // Index checks throw vcBadParams.
  vcDiagRecord& diagRecord(long i);
  const vcDiagRecord& diagRecord(long i) const;
  long numRecords() const { return static_cast<long>(records_.size()); }
  // The last record, or null when there is none.
  vcDiagRecord* lastRecord() { return records_.empty() ? nullptr : &records_.back(); }
  // The level new records get; a negative request is taken as 0.
  void level(long l) { level_ = l < 0 ? 0 : l; }
  long level() const { return level_; }
  void clear();

  // A short summary of what was recorded, shown at the top of a report ("Tool", "Results
  // found", ...): keys in the order first given; giving a key again replaces its value.
  void summary(const std::string& key, const std::string& value);
  const std::vector<std::pair<std::string, std::string>>& summary() const { return summary_; }

 private:
  std::vector<vcDiagRecord> records_;
  std::vector<std::pair<std::string, std::string>> summary_;
  long level_ = 0;
  std::shared_ptr<vcDiagImagePool> pool_;
};

// How a report embeds record images. The library itself writes BMP (no codec needed); a
// caller with a better codec hands it in (the tools pass PNG).
struct vcDiagImageEncoder {
  std::string mimeType;  // e.g. "image/png"
  std::function<std::string(const vcPelBuffer_const<unsigned char>&)> encode;
  bool empty() const { return !encode; }
};

// Writes `diag` into `folder` (created if missing) as one self-contained page, index.html:
// the summary, then the records nested by level (top level open, deeper ones collapsed), each
// with its image and graphic lists drawn over it as SVG layers that can be switched off, and
// its texts as preformatted blocks. Each distinct image is embedded once (encoded by
// `encoder`, BMP without one) and also written as an exact-pixel PGM next to the page.
// Throws vcBadParams when a file cannot be written.
void vfWriteDiagFolder(const vcDiagObject& diag, const std::string& folder,
                       const vcDiagImageEncoder& encoder = vcDiagImageEncoder());

// A recorder that writes its records to a folder when flushed or destroyed.
class vcDiagFolderRecorder : public vcDiagObject {
 public:
  explicit vcDiagFolderRecorder(std::string folder,
                                vcDiagImageEncoder encoder = vcDiagImageEncoder())
      : folder_(std::move(folder)), encoder_(std::move(encoder)) {}
  // One recorder, one folder: a copy would write it twice.
  vcDiagFolderRecorder(const vcDiagFolderRecorder&) = delete;
  vcDiagFolderRecorder& operator=(const vcDiagFolderRecorder&) = delete;
  // Writes what was recorded; errors are swallowed here (call flush() to see them).
  ~vcDiagFolderRecorder() override;
  const std::string& folder() const { return folder_; }
  void flush() const { vfWriteDiagFolder(*this, folder_, encoder_); }

 private:
  std::string folder_;
  vcDiagImageEncoder encoder_;
};
