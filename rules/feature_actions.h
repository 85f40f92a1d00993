#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rules/action_context.h"
#include "transaction/nist_file.h"

namespace varnel::rules {

/// Largest text of one INCITS 378 field written by the conversion (bytes). Subfields that would
/// pass it are left out, and the minutia count says how many were written.
inline constexpr std::size_t kMaxFeatureFieldText = 102400 - 1;

/// A minutia in hundredths of a millimetre, origin at the lower left of the image.
struct MinutiaPoint {
  int x = 0;
  int y = 0;
  int theta = 0;  ///< degrees
  int kind = 0;   ///< 0 other, 1 ridge ending, 2 bifurcation
};

/// A core in hundredths of a millimetre.
struct CorePoint {
  int x = 0;
  int y = 0;
  int direction = 0;
  int uncertainty = 0;
};

/// A delta in hundredths of a millimetre; -1 marks an absent angle.
struct DeltaPoint {
  int x = 0;
  int y = 0;
  int angle1 = -1;
  int angle2 = -1;
  int angle3 = -1;
  int uncertainty = 0;
};

/// Most cores and deltas a feature set keeps.
inline constexpr std::size_t kMaxCoresOrDeltas = 9;

/// The neutral feature set of one Type-9 record.
struct FeatureSet {
  std::vector<MinutiaPoint> minutiae;
  std::vector<CorePoint> cores;
  std::vector<DeltaPoint> deltas;
};

/// Geometry of the image a Type-9 record describes.
struct FeatureGeometry {
  int imageType = 0;   ///< record type of the image found
  int imageIndex = 0;  ///< its occurrence among the records of that type
  int width = 0;       ///< pixels
  int height = 0;      ///< pixels
  int fingerPosition = 0;
  int ppi = 500;      ///< resolution R
  float pitch = 0;    ///< pixel pitch P in hundredths of a millimetre
  int heightHmm = 0;  ///< image height H in hundredths of a millimetre
};

/// What one "Convert Feature Set" did, per converted record.
struct FeatureConversion {
  int record = 0;  ///< occurrence of the Type-9 record
  int minutiae = 0;
  int cores = 0;
  int deltas = 0;
};

/// Block number of a "Delete Feature Set" type name (exact, case-sensitive): "FBI IAFIS" 1,
/// "Extended" 8, "Legacy" 4, "Cogent" 0, "NEC" 7, "Morpho" 5, "Motorola" 6, "Identix" 2;
/// kNoFeatureBlock for any other text (the INCITS 378 block is not selectable by name).
[[nodiscard]] int featureBlockFromName(std::string_view name) noexcept;
/// What featureBlockFromName gives for a name it does not know.
inline constexpr int kNoFeatureBlock = -1;

/// Deletes the named block from every Type-9 record. Returns the number of records visited, or
/// 0 when the name selects no block.
int deleteFeatureSet(transaction::NistFile& file, std::string_view blockName) noexcept;

/// Finds the image a Type-9 record describes (by IDC) and computes its geometry. Returns 1 and
/// fills `out`, or 0 when the record has no readable IDC or no image record matches it.
[[nodiscard]] int findFeatureGeometry(const transaction::NistFile& file, int occurrence,
                                      FeatureGeometry& out) noexcept;

/// Reads the minutiae, cores and deltas of the block named `from` ("FBI IAFIS", "Extended",
/// "Legacy") of the `occurrence`-th Type-9 record; `heightHmm` flips the y axis where the block
/// needs it. Returns 0, or kFeatureFormatUnknown for any other name (`out` then empty).
[[nodiscard]] int parseFeatureBlock(const transaction::NistFile& file, int occurrence,
                                    std::string_view from, int heightHmm, FeatureSet& out) noexcept;

/// Status of parseFeatureBlock and convertFeatureSet for a source name outside the three known
/// ones (next to the codes of rules/status.h).
inline constexpr int kFeatureFormatUnknown = -7;

/// Converts the `from` block of every Type-9 record into the INCITS 378 block (fields 9.126 to
/// 9.141 and 9.004). Fields of the source block that the conversion does not carry over get a
/// warning text in `warnings` ("Field 9.014 is not yet supported by feature set conversion").
/// Records without a matching image stay as they were. `done` receives one entry per converted
/// record. Returns 0; kFeatureFormatUnknown (nothing changed) for an unknown `from`;
/// kOutOfMemory when memory runs out (records converted before stay converted).
[[nodiscard]] int convertFeatureSet(transaction::NistFile& file, std::string_view from,
                                    std::vector<std::string>& warnings,
                                    std::vector<FeatureConversion>* done = nullptr) noexcept;

namespace detail {
/// "Delete Feature Set": parameter 1 names the block.
void deleteFeatureSetAction(ActionContext& ctx);
/// "Convert Feature Set": parameter 1 names the source format; warnings become report rows
/// without the file name.
void convertFeatureSetAction(ActionContext& ctx);
}  // namespace detail

}  // namespace varnel::rules
