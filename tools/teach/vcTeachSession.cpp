#include "tools/teach/vcTeachSession.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <regex>

#include "platform/core/vcException.h"
#include "platform/display/vc2Wireframe.h"
#include "tools/cli/vcCliCommand.h"
#include "tools/cli/vcCliResults.h"
#include "tools/cli/vcCliText.h"
#include "tools/io/vcFileBytes.h"
#include "tools/io/vcImageFile.h"
#include "tools/io/vcResultRecord.h"
#include "tools/teach/vcTeachPieces.h"
#include "vcFlexLimits.h"

namespace fs = std::filesystem;
using nlohmann::json;
using nlohmann::ordered_json;

namespace {

fs::path key(const fs::path& p) { return fs::weakly_canonical(fs::absolute(p)); }

// The description's text as JSON, within the bounds and with the words of the command's
// reader (a description the page sends is read as the file would be).
ordered_json parseText(const std::string& text, const std::string& source) {
  if (text.size() > kVcMaxDescriptionBytes)
    throw vcBadParams(source + ": " + std::to_string(text.size()) + " bytes, more than the " +
                      std::to_string(kVcMaxDescriptionBytes) + " this program reads");
  // Ordered, to keep the fields in the file's order; an ordered object looks its keys up one
  // by one, which the reader's bound on keys keeps short.
  const ordered_json::parser_callback_t shallow = vfDescriptionShape<ordered_json>(source);
  try {
    return ordered_json::parse(text, shallow);
  } catch (const ordered_json::exception& e) {
    const std::string what = e.what();
    const auto at = what.find("] ");
    throw vcBadParams(
        source + ": not valid JSON: " + (at == std::string::npos ? what : what.substr(at + 2)));
  }
}

// The mask files a description's sub-models name.
std::vector<std::string> maskNames(const ordered_json& doc) {
  std::vector<std::string> out;
  if (doc.is_object() && doc.contains("subModels") && doc["subModels"].is_array())
    for (const auto& s : doc["subModels"])
      if (s.is_object() && s.contains("mask") && s["mask"].is_string())
        out.push_back(s["mask"].get<std::string>());
  return out;
}

// Masks are kept or left out, nothing between: a painted mask's pixels are 0 or 255.
vcPelBuffer<unsigned char> binary(vcPelBuffer<unsigned char> m) {
  for (long y = 0; y < m.height(); ++y)
    for (long x = 0; x < m.width(); ++x) m.set(x, y, m.get(x, y) >= 128 ? 255 : 0);
  return m;
}

// Reduced by the smallest whole factor that brings both sides within `side` (box mean).
vcTeachPicture reduced(const vcPelBuffer_const<unsigned char>& img, long side) {
  vcTeachPicture out;
  out.shrink = std::max(1L, (std::max(img.width(), img.height()) + side - 1) / side);
  const long k = out.shrink;
  if (k == 1) {
    out.png = vfEncodePng(img);
    return out;
  }
  vcPelBuffer<unsigned char> small((img.width() + k - 1) / k, (img.height() + k - 1) / k);
  for (long y = 0; y < small.height(); ++y)
    for (long x = 0; x < small.width(); ++x) {
      long sum = 0, n = 0;
      for (long v = y * k; v < std::min(img.height(), (y + 1) * k); ++v)
        for (long u = x * k; u < std::min(img.width(), (x + 1) * k); ++u) sum += img.get(u, v), ++n;
      small.set(x, y, static_cast<unsigned char>((sum + n / 2) / n));
    }
  out.png = vfEncodePng(small);
  return out;
}

json point(const vcVector<2>& p) {
  return json::array({std::round(p.x() * 100) / 100, std::round(p.y() * 100) / 100});
}

// What the page draws over a run image for one result: the arrangement box, and per piece
// its region or outline where it was found or (missing) where the part pose places it.
json drawing(const vcPartView& part, const vcFlexArrangement& a) {
  const vcXform<2> box = part.pose * a.origin()->linearXform({0, 0}).xform().inverse();
  const vcRect r = a.encloseRect();
  auto corners = [](const vcRect& r, const vcXform<2>& x) {
    return json::array({point(x.mapPoint(r.ul())),
                        point(x.mapPoint(r.ul() + vcVector<2>(r.width(), 0))),
                        point(x.mapPoint(r.ul() + r.size())),
                        point(x.mapPoint(r.ul() + vcVector<2>(0, r.height())))});
  };
  json out = {{"found", part.found}, {"box", corners(r, box)}, {"pieces", json::array()}};
  for (const vcInstanceView& in : part.instances) {
    const vcFlexSubModel& m =
        a.subModels()[std::size_t(a.subModelIndices()[std::size_t(in.index)])];
    json lines = json::array();
    if (m.modelType() == vcFlexModelDefs::eSynthetic) {
      for (const vc2Wireframe& w : m.shapes()) {
        json line = json::array();
        for (long i = 0; i < w.numVertices(); ++i)
          line.push_back(point(in.pose.mapPoint(w.vertex(i))));
        if (w.closed() && w.numVertices() > 0) line.push_back(line.front());
        lines.push_back(line);
      }
    } else if (m.modelType() == vcFlexModelDefs::eImage) {
      json c = corners(m.encloseRect(), in.pose);
      c.push_back(c.front());
      lines.push_back(c);
    }
    out["pieces"].push_back(
        {{"name", in.name}, {"found", in.found}, {"at", point(in.pose.trans())}, {"lines", lines}});
  }
  return out;
}

}  // namespace

vcTeachSession::vcTeachSession(const std::string& trainImage, std::string description,
                               const std::vector<std::string>& imageFolders)
    : description_(description.empty() ? (fs::path(trainImage).parent_path() /
                                          (fs::path(trainImage).stem().string() + "-part.json"))
                                             .string()
                                       : std::move(description)),
      train_(vfReadImage(trainImage)),
      folders_([&] {
        const fs::path dir = fs::path(description_).parent_path();
        std::error_code ec;
        if (!fs::is_directory(dir.empty() ? "." : dir, ec))
          throw vcCliUsage(description_ + ": its folder does not exist");
        return vcTeachFolders(dir);
      }()),
      golden_(folders_, fs::path(description_).replace_extension(".fxg"),
              {description_, trainImage}) {
  folders_.add(fs::path(trainImage).parent_path());
  for (const std::string& f : imageFolders) {
    std::error_code ec;
    if (!fs::is_directory(f, ec)) throw vcCliUsage("--images " + f + ": not a folder");
    folders_.add(f);
    runFolders_.push_back(fs::canonical(f));
  }
  trainName_ = folders_.nameOf(trainImage);
  if (!fs::exists(description_)) return;
  // An existing description must read as JSON; one the reader refuses is still opened, so
  // the page can mend it, and the page shows why.
  const std::vector<std::uint8_t> bytes = vfReadFileBytes(description_, kVcMaxDescriptionBytes);
  opened_ = parseText(std::string(bytes.begin(), bytes.end()), description_);
  if (!opened_.is_object() || !opened_.contains("trainImage") || !opened_["trainImage"].is_string())
    throw vcCliUsage(description_ + ": not a part description (no trainImage)");
  const fs::path dir = fs::path(description_).parent_path();
  auto named = [&](const std::string& n) {
    return fs::path(n).is_absolute() ? fs::path(n) : dir / n;
  };
  const std::string given = opened_["trainImage"].get<std::string>();
  if (key(named(given)) != key(trainImage))
    throw vcCliUsage(description_ + ": trains from " + given + ", not from " + trainImage);
  // The folders of the masks it names are served as well: the description gave them. Its
  // masks may be painted over.
  for (const std::string& m : maskNames(opened_)) {
    std::error_code ec;
    const fs::path folder = named(m).parent_path();
    if (fs::is_directory(folder, ec)) folders_.add(folder);
    masks_.insert(key(named(m)));
  }
}

json vcTeachSession::start() const {
  std::string problem;
  if (!opened_.is_null()) {
    try {
      vfReadDescription(description_);
    } catch (const std::exception& e) {
      problem = vfErrorText(e);
    }
  }
  return {{"trainImage", trainName_},
          {"width", train_.width()},
          {"height", train_.height()},
          {"description", description_},
          {"exists", !opened_.is_null()},
          // Kept as text so the page gets the fields in the file's order.
          {"doc", opened_.is_null() ? "" : opened_.dump()},
          {"problem", problem},
          {"images", runImages()},
          {"shownSide", kVcTeachShownSide},
          // The bounds the description reader checks, so the page's inputs and handles keep to
          // them rather than to copies of their own.
          {"limits",
           {{"minRegionSide", vcFlexLimits::kMinRegionSide},
            {"maxUncertainty", vcFlexLimits::kMaxUncertainty},
            {"maxAngle", vcFlexLimits::kMaxAngle},
            {"maxNumToFind", vcFlexLimits::kMaxNumToFind}}}};
}

vcCliTrainJob vcTeachSession::read(const vcTeachRequest& r) const {
  ordered_json given = parseText(r.description, description_);
  if (given.is_object()) given["trainImage"] = trainName_;
  const json doc = json::parse(given.dump());
  return vfParseDescription(doc, description_, [&](const std::string& name) {
    if (name == trainName_) return train_;
    const fs::path p = folders_.path(name);
    const auto painted = r.masks.find(name);
    if (painted == r.masks.end()) return vfReadImage(p.string());
    const std::string& b = painted->second;
    return binary(
        vfDecodeImage(reinterpret_cast<const std::uint8_t*>(b.data()), b.size(), p.string()));
  });
}

const vcPatternFile& vcTeachSession::trained(const vcTeachRequest& r, const vcCliTrainJob& job) {
  std::string k = r.description;
  for (const auto& [name, bytes] : r.masks) k += '\0' + name + '\0' + bytes;
  if (k == trainedKey_) return trained_;
  try {
    trained_ = vfTrainCliPattern(job);
  } catch (const vcException& e) {
    trainedKey_.clear();
    throw vcCliUsage(description_ + ": training failed: " + vfErrorText(e));
  }
  trainedKey_ = std::move(k);
  return trained_;
}

std::vector<std::string> vcTeachSession::runImages() const {
  if (runFolders_.empty()) return {trainName_};
  std::vector<std::string> out;
  for (const std::string& name : folders_.images()) {
    if (vfIsOwnOutput(fs::path(name).filename().string())) continue;
    std::error_code ec;
    const fs::path folder = fs::weakly_canonical(folders_.path(name), ec).parent_path();
    if (!ec && std::find(runFolders_.begin(), runFolders_.end(), folder) != runFolders_.end())
      out.push_back(name);
  }
  return out;
}

json vcTeachSession::pieces(const vcTeachRequest& r) { return vfTeachPieces(read(r)); }

json vcTeachSession::tryImage(const vcTeachRequest& r, const std::string& name,
                              const vcPelBuffer<unsigned char>& upload) {
  const vcCliTrainJob job = read(r);
  const vcPatternFile& p = trained(r, job);
  const vcPelBuffer<unsigned char> img =
      upload.isBound() ? upload : vfReadImage(folders_.file(name).string());
  const vcCliImageRun run =
      vfRunCliImage(p, name, img, vcPelBuffer<unsigned char>(), p.startPose, p.runParams);
  json out = {{"run", vfRunRecord(run)},
              {"table", vfCliTable(run)},
              {"drawing", {{"results", json::array()}, {"rejected", json::array()}}}};
  for (const vcPartView& v : run.parts)
    out["drawing"]["results"].push_back(drawing(v, p.pattern.arrangement()));
  for (const vcPartView& v : run.rejected)
    out["drawing"]["rejected"].push_back(drawing(v, p.pattern.arrangement()));
  if (upload.isBound()) {
    const vcTeachPicture pic = reduced(img, kVcTeachShownSide);
    out["picture"] = vfTeachPngDataUrl(pic.png);
  }
  return out;
}

json vcTeachSession::trainGolden(const vcTeachRequest& r, const std::vector<std::string>& good) {
  const vcCliTrainJob job = read(r);
  return golden_.train(trained(r, job), good);
}

json vcTeachSession::inspect(const std::string& name,
                             const vcPelBuffer<unsigned char>& upload) const {
  json out = golden_.inspect(name, upload);
  if (upload.isBound()) out["picture"] = vfTeachPngDataUrl(reduced(upload, kVcTeachShownSide).png);
  return out;
}

json vcTeachSession::save(const vcTeachRequest& r) {
  ordered_json doc = parseText(r.description, description_);
  if (doc.is_object()) doc["trainImage"] = trainName_;
  // A painted mask is written beside the description under a plain name the description
  // uses, never over a file the description reads otherwise, and over an existing file only
  // when it is a mask: one the saved description named, or one this session wrote.
  static const std::regex kPlain("[A-Za-z0-9_][A-Za-z0-9_.-]{0,99}\\.[pP][nN][gG]");
  const fs::path dir = fs::path(description_).parent_path();
  const std::vector<std::string> used = maskNames(doc);
  for (const auto& [name, bytes] : r.masks) {
    if (!std::regex_match(name, kPlain))
      throw vcCliUsage("mask " + vfPrintable(name) +
                       ": a painted mask is saved as a plain file name ending in .png");
    if (std::find(used.begin(), used.end(), name) == used.end())
      throw vcCliUsage("mask " + name + ": no sub-model of the description uses it");
    const fs::path p = key(dir / name);
    if (p == key(description_) || p == key(dir / trainName_))
      throw vcCliUsage("mask " + name + ": would replace a file the description reads");
    std::error_code ec;
    if (fs::exists(fs::symlink_status(dir / name, ec)) && !masks_.count(p))
      throw vcCliUsage("mask " + name + ": would replace " + (dir / name).string() +
                       ", which is not a mask of this description; name the mask after its "
                       "piece (<piece>-mask.png)");
  }
  const vcCliTrainJob job = read(r);  // the reader's checks: nothing is written unless they pass
  json out = {{"saved", description_}, {"files", json::array()}};
  for (const auto& [name, bytes] : r.masks) {
    const fs::path p = dir / name;
    vfWriteFileBytes(
        p.string(), vfEncodePng(binary(vfDecodeImage(
                        reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), name))));
    masks_.insert(key(p));
    out["files"].push_back(p.string());
  }
  vfWriteFileBytes(description_, doc.dump(2) + "\n");
  out["files"].push_back(description_);
  vfReadDescription(description_);  // what was written reads as `flexalign train` reads it
  opened_ = doc;
  for (const std::string& m : maskNames(doc)) masks_.insert(key(dir / m));
  return out;
}

vcTeachPicture vcTeachSession::picture(const std::string& name) const {
  // The training image was named on the command line, even as a link to another folder.
  if (name == trainName_) return reduced(train_, kVcTeachShownSide);
  return reduced(vfReadImage(folders_.file(name).string()), kVcTeachShownSide);
}
