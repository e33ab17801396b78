#include "platform/diag/vcDiag.h"

#include "platform/core/vcException.h"

class vcDiagImagePool {
 public:
  // A copy of `img`: one made before when an equal image (window, client transform and
  // pixels) was recorded, else a new one.
  vcPelBuffer_const<unsigned char> copyOf(const vcPelBuffer_const<unsigned char>& img) {
    for (const auto& c : copies_)
      if (c.window() == img.window() && c.clientFromImageXform() == img.clientFromImageXform() &&
          vfPelEqual(c, img))
        return c;
    // A root image over the same window keeps the pixel coordinates the client transform uses.
    vcPelBuffer<unsigned char> dst(img.window(), 1);
    vfPelCopy(img, dst);
    dst.clientFromImageXform(img.clientFromImageXform());
    copies_.push_back(dst);
    return dst;
  }

 private:
  std::vector<vcPelBuffer_const<unsigned char>> copies_;
};

void vcDiagRecord::image(const vcPelBuffer_const<unsigned char>& img, bool copy) {
  if (!img.isBound()) {
    image_.setUnbound();
    return;
  }
  if (!copy) {
    image_ = img;
    return;
  }
  if (!pool_) pool_ = std::make_shared<vcDiagImagePool>();
  image_ = pool_->copyOf(img);
}

void vcDiagRecord::graphics(const vcGraphicList& list, vcDisplay::CoordinateSystem coords,
                            const std::string& name) {
  Item it{eGraphicsItem, name, std::string(), list, coords};
  items_.push_back(std::move(it));
}

void vcDiagRecord::text(const std::string& name, const std::string& text) {
  Item it{eTextItem, name, text, vcGraphicList(), vcDisplay::eClientCoords};
  items_.push_back(std::move(it));
}

const vcDiagRecord::Item& vcDiagRecord::item(long i) const {
  if (i < 0 || i >= numItems()) throw vcBadParams("Record item index out of range");
  return items_[static_cast<std::size_t>(i)];
}

const vcDiagRecord::Item* vcDiagRecord::findText(const std::string& name) const {
  for (const auto& it : items_)
    if (it.kind == eTextItem && it.name == name) return &it;
  return nullptr;
}

vcDiagObject* vcDiagObject::getRecordingDestination(vcDiagObject* diag, unsigned long& flags) {
  if (diag && (flags & vcDiagDefs::eAll) != 0) return diag;
  flags = 0;
  return nullptr;
}

vcDiagObject::vcDiagObject() : pool_(std::make_shared<vcDiagImagePool>()) {}

vcDiagRecord& vcDiagObject::newDiagRecord() {
  records_.emplace_back(level_, pool_);
  return records_.back();
}

vcDiagRecord& vcDiagObject::diagRecord(long i) {
  if (i < 0 || i >= numRecords()) throw vcBadParams("Record index out of range");
  return records_[static_cast<std::size_t>(i)];
}

const vcDiagRecord& vcDiagObject::diagRecord(long i) const {
  return const_cast<vcDiagObject*>(this)->diagRecord(i);
}

void vcDiagObject::clear() {
  records_.clear();
  summary_.clear();
  level_ = 0;
  pool_ = std::make_shared<vcDiagImagePool>();
}

void vcDiagObject::summary(const std::string& key, const std::string& value) {
  for (auto& kv : summary_)
    if (kv.first == key) {
      kv.second = value;
      return;
    }
  summary_.emplace_back(key, value);
}

vcDiagFolderRecorder::~vcDiagFolderRecorder() {
  try {
    flush();
  } catch (...) {
    // A destructor must not throw; flush() reports the same failure to callers who ask.
  }
}
