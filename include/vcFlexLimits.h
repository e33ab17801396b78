// The largest (and a few smallest) values the library, the command's part description, the
// Python module and the teach page accept from a user, each stated once. A layer that checks a
// value reads its bound from here, so a value one layer accepts is never refused by the next.
#pragma once

struct vcFlexLimits {
  // Client units from the origin. Past this a position is damage, not geometry: derived pixel
  // positions leave the range of int and a window asks for more pixels than any image holds.
  static constexpr double kMaxCoordinate = 1e6;
  // A pose's scale factor either way (1 / kMaxPoseScale to kMaxPoseScale); the same reasoning.
  static constexpr double kMaxPoseScale = 1e3;
  // A run's x and y translation uncertainty, client units: a window wider than the coordinate
  // range searches nothing more.
  static constexpr double kMaxUncertainty = kMaxCoordinate;
  // Degrees either way of an angle zone or a pose angle: more only repeats the circle.
  static constexpr double kMaxAngle = 360.0;
  // Threads of one run, the caller's included: past any machine's cores, and each holds its own
  // search buffers.
  static constexpr long kMaxThreads = 256;
  // Sub-model instances of one arrangement. A run costs a search per instance plus work growing
  // with the square of the instance count (each prediction interpolates the ones found).
  static constexpr long kMaxInstances = 4096;
  // Sub-models one part description trains; 4000 unused whole-image ones took 130 s and 2.8 GB.
  static constexpr long kMaxSubModels = 1000;
  // Results a part description may ask one run for: more than a production image holds.
  static constexpr long kMaxNumToFind = 1000;
  // Pixels a synthetic sub-model's shapes may span each way: an engine trains on every pixel
  // the outlines cross, so a careless coordinate of 1e7 would cost minutes and gigabytes.
  static constexpr double kMaxPieceExtent = 4096.0;
  // The smallest side of an image piece's region, pixels: the smallest pattern the engines
  // train.
  static constexpr long kMinRegionSide = 8;
  // Pixels of one rectified region: 64 Mpixels take 640 MB with the mask and the field.
  static constexpr long kMaxRectifyPixels = 1L << 26;
  // A rectified region's start, pixels either way from the image origin.
  static constexpr long kMaxRectifyStart = 1000000000L;
  // Spacing of the rectify grid, pixels: a coarser grid no longer follows a bent piece.
  static constexpr long kMaxRectifyGridStep = 64;
  // The rectify margin and reach, client units: distances within the coordinate range.
  static constexpr double kMaxRectifyDistance = kMaxCoordinate;
  // The smallest defect area an inspection may be told to report, pixels at most.
  static constexpr long kMaxDefectArea = 1000000000L;
  // An inspection's tolerance per grey level of spread and per grey level a pixel of gradient:
  // at 100 a spread or gradient of 2.55 already allows the whole grey range.
  static constexpr double kMaxToleranceFactor = 100.0;
};
