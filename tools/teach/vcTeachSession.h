// One teach session: a training image and the part description being taught on it, and what
// the page asks of the description it sends: the trained view of its pieces, a run on an
// image, and saving it. Every request is the description's JSON text as the page would save
// it, with the masks painted on the page; it is read by the command's description reader
// (same checks, same messages, naming the description's path), trained by the command's
// training and run by the command's run, so what the page shows is what `flexalign train` and
// `flexalign run` will do.
#pragma once

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "platform/core/vcPelBuffer.h"
#include "tools/cli/vcCliDescription.h"
#include "tools/io/vcPatternFile.h"
#include "tools/teach/vcTeachFolders.h"
#include "tools/teach/vcTeachGolden.h"

// Images larger than this a side go to the page reduced by a whole factor; the page draws
// them at their full size, so every coordinate stays the image's own.
constexpr long kVcTeachShownSide = 4096;

struct vcTeachRequest {
  std::string description;                   // JSON text
  std::map<std::string, std::string> masks;  // mask file name -> image bytes, as painted
};

// An image for the page: PNG bytes and the factor it was reduced by.
struct vcTeachPicture {
  std::string png;
  long shrink = 1;
};

class vcTeachSession {
 public:
  // `trainImage` is taught on; `description` is opened when it exists and is written by
  // save() (empty: <training image stem>-part.json beside it). `imageFolders` are served too,
  // as are the folders of the files an opened description names. vcCliUsage when the
  // training image cannot be read, or an existing description does not read or trains from
  // another image.
  vcTeachSession(const std::string& trainImage, std::string description,
                 const std::vector<std::string>& imageFolders);
  // The golden model holds the session's folders.
  vcTeachSession(const vcTeachSession&) = delete;
  vcTeachSession& operator=(const vcTeachSession&) = delete;

  const vcTeachFolders& folders() const { return folders_; }
  const std::string& descriptionPath() const { return description_; }

  // What the page starts from: {"trainImage" (its name in the description), "width",
  // "height", "description" (path), "exists", "doc" (the opened description, fields in the
  // file's order, or null), "images" (run images by name: runImages()), "limits"}.
  nlohmann::json start() const;
  // The trained pieces (vfTeachPieces).
  nlohmann::json pieces(const vcTeachRequest& r);
  // Runs the description on the image `name` of the folders, or on `upload` (a dropped file,
  // called `name`) when it is bound: {"run" (the `run --json` object), "table" (as `run`
  // prints it), "drawing" (outlines in image pixels), "picture" (upload only: a data URL)}.
  nlohmann::json tryImage(const vcTeachRequest& r, const std::string& name,
                          const vcPelBuffer<unsigned char>& upload);
  // The golden model (vcTeachGolden): trained from the images `good` with the request's
  // pattern, tried on an image as tryImage() takes it ("picture" too for an upload), saved
  // beside the description as <description stem>.fxg.
  nlohmann::json trainGolden(const vcTeachRequest& r, const std::vector<std::string>& good);
  nlohmann::json inspect(const std::string& name, const vcPelBuffer<unsigned char>& upload) const;
  nlohmann::json saveGolden() { return golden_.save(); }
  // Writes the painted masks and the description, after the reader has accepted them:
  // {"saved" (path), "files" (every file written)}.
  nlohmann::json save(const vcTeachRequest& r);
  // The images Try offers and Try all runs: those of the --images folders, without this
  // program's own outputs (*-overlay.png, *-rectified.png); without --images, the training
  // image alone. (Other served folders hold the training image, masks and whatever else lies
  // beside them, screenshots included.)
  std::vector<std::string> runImages() const;
  // An image of the folders, for the page.
  vcTeachPicture picture(const std::string& name) const;

 private:
  // The request's description as the reader takes it, with the painted masks in place of
  // files of the same name.
  vcCliTrainJob read(const vcTeachRequest& r) const;
  // The request's trained pattern; the last one is kept for the next request of equal text.
  const vcPatternFile& trained(const vcTeachRequest& r, const vcCliTrainJob& job);

  std::string description_;
  std::string trainName_;  // the training image as the description names it
  vcPelBuffer<unsigned char> train_;
  vcTeachFolders folders_;
  std::vector<std::filesystem::path> runFolders_;  // the --images folders, canonical
  nlohmann::ordered_json opened_;                  // the existing description, or null
  // Mask files Save may replace: those the saved description names and those it wrote.
  std::set<std::filesystem::path> masks_;

  std::string trainedKey_;
  vcPatternFile trained_;
  vcTeachGolden golden_;
};
