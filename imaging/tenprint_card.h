#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "imaging/graphics.h"
#include "transaction/nist_file.h"
#include "varnel_version.h"

namespace varnel::imaging {

/// Card surface: 203 x 297 mm at 600 dpi, 24 bits per pixel.
inline constexpr int kCardWidthPx = 4795;
inline constexpr int kCardHeightPx = 7015;
/// Resolution recorded with the card surface (about 600 dpi).
inline constexpr int kCardPixelsPerMetre = 23616;
/// Resolution written into the TIFF file.
inline constexpr int kCardDpi = 600;
/// Device pixels per millimetre of the card (600 / 25.4).
inline constexpr double kCardPixelsPerMm = 23.622047;
/// Version text of the card's footer.
inline constexpr std::string_view kCardProgramVersion = kVersion;

/// A record whose image the card could not decode: its type and index among its type.
struct CardRecord {
  int type = 0;
  int index = 0;
  std::string reason;  ///< why its image could not be decoded
  /// The same record (the reason aside).
  bool operator==(const CardRecord& o) const { return type == o.type && index == o.index; }
};

/// Draws the tenprint card of the transaction held by `file` on `surface` (normally a white
/// kCardWidthPx x kCardHeightPx surface): the descriptive data of the Type-1 and Type-2 records,
/// the frontal face photo, the ten rolled fingers, the plain impressions and the missing-finger
/// codes of 2.084. With a non-empty `outputPath` it also draws the footer and writes the whole
/// card as a 24-bit TIFF at 600 x 600 dpi. Returns kOk; kNoTransaction when no transaction is
/// held or the surface is not valid (nothing drawn); the saving status of saveSurface
/// (kWriteFailed, kNoEncoder, kSaveFailed, kOutsideBitmap) when the TIFF cannot be written;
/// kAllocFailed when memory runs out. Images that cannot be decoded leave their boxes empty and,
/// when `undecodable` is given, are listed there once each.
/// Where `err` is given it receives the system's error number of a failed create, write or
/// close of the TIFF (0 otherwise).
[[nodiscard]] int renderTenprintCard(const transaction::NistFile& file, Surface& surface,
                                     const std::string& outputPath,
                                     std::vector<CardRecord>* undecodable = nullptr,
                                     int* err = nullptr) noexcept;

}  // namespace varnel::imaging
