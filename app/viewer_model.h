#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/image.h"
#include "transaction/nist_file.h"

namespace varnel::app {

// What the transaction viewer shows, computed without the window system so that it can run on a
// worker thread and be checked by tests. Nothing here writes to a file.

/// A transaction opened for viewing: the handle holding it and the path it came from. Shared
/// between the window and the worker threads that decode its images; only read after loading.
struct ViewedTransaction {
  std::string path;
  transaction::NistFile file;
};

/// Reads the file at `path` (traditional or XML encoding) into `out`. Returns 0, or the reader's
/// negative status with `reason` set to a sentence saying why the file cannot be read.
[[nodiscard]] int openTransaction(const std::string& path,
                                  std::shared_ptr<const ViewedTransaction>& out,
                                  std::string& reason) noexcept;

/// Text of a reader status for the operator: "the file cannot be opened", ...
[[nodiscard]] std::string readerReason(int status);

/// One record of the tree.
struct RecordSummary {
  int position = 0;    ///< index in the transaction (0 is the Type-1 record)
  int type = 0;        ///< record type
  int occurrence = 0;  ///< index among the records of the same type
  std::string idc;     ///< field 2 ("" for Type 1 or when absent)
  std::string text;    ///< one line: "Type-14 right thumb, WSQ20 804x752 500 ppi"
  std::string detail;  ///< the same without the leading "Type-14 "
  bool hasImage = false;
};

/// Name of a record type ("Variable-resolution fingerprint image"), or "" for unknown types.
[[nodiscard]] std::string_view recordTypeName(int type) noexcept;

/// The records of the transaction in order, each with its one-line summary.
[[nodiscard]] std::vector<RecordSummary> summarizeRecords(const transaction::NistFile& file);

/// One field of a record as the tree shows it.
struct FieldRow {
  int number = 0;
  std::string tag;          ///< "14.013"
  std::string mnemonic;     ///< "FGP", or "" when the field table has none
  std::string description;  ///< "Friction Ridge Generalized Position", or ""
  std::string value;        ///< printable text; image data as "<N bytes of image data>"
  int subfields = 0;
  bool imageData = false;
};

/// The fields of one record in file order.
[[nodiscard]] std::vector<FieldRow> fieldRows(const transaction::Record& record);

/// The items of subfield `subfield` of a field, printable; empty when there is no such subfield.
[[nodiscard]] std::vector<std::string> itemTexts(const transaction::Field& field, int subfield);

/// Name of an information item by its 0-based index ("A", "B", ...) and the table's mnemonic for
/// it ("FGP/ ... "), or "" when the table has none.
[[nodiscard]] std::string itemMnemonic(int recordType, int field, int item);

// ---- Comparing two transactions ----

/// How a record or field of one transaction stands against the other.
enum class DiffKind { kSame, kChanged, kOnlyLeft, kOnlyRight };

struct FieldDiff {
  int number = 0;
  DiffKind kind = DiffKind::kSame;
};

/// A record paired with the record of the same type and occurrence on the other side.
struct RecordDiff {
  int type = 0;
  int occurrence = 0;
  int leftPosition = -1;   ///< -1 when only the right side has it
  int rightPosition = -1;  ///< -1 when only the left side has it
  DiffKind kind = DiffKind::kSame;
  /// Every field number present on either side, in ascending order.
  std::vector<FieldDiff> fields;
};

/// Pairs the records of two transactions by type and occurrence (left order first, then the
/// records only the right side has) and compares their fields by value, image bytes included.
[[nodiscard]] std::vector<RecordDiff> diffTransactions(const transaction::Transaction& left,
                                                       const transaction::Transaction& right);

// ---- Files of a finished run ----

/// A transaction file of the source folder and the file the run wrote for it.
struct RunFile {
  std::string name;    ///< file name in the source folder
  std::string input;   ///< full path of the input
  std::string output;  ///< full path of the output, or "" when none is found
};

/// The transaction files of `sourceFolder` sorted by name, each paired with the transaction file
/// of `destFolder` that has the same name, or else the same base name with another extension,
/// or else the one file whose base name is the input's followed by "_" or "-" and more (rules
/// often rename outputs "NAME_converted"). Several candidates pair with none. An unlistable
/// folder gives no files (source) or no outputs (destination).
[[nodiscard]] std::vector<RunFile> pairRunFiles(const std::string& sourceFolder,
                                                const std::string& destFolder);

// ---- Images ----

/// Decodes the image of a record for display: RGB order, tight rows. Returns 0 or the image
/// layer's negative status, with `reason` saying why the image cannot be shown.
[[nodiscard]] int decodeForView(const transaction::NistFile& file, int type, int occurrence,
                                imaging::RawImage& out, std::string& reason) noexcept;

/// A minutia in image pixels, origin at the top left; `theta` in degrees counter-clockwise from
/// the x axis.
struct MinutiaMark {
  double x = 0;
  double y = 0;
  int theta = 0;
  int kind = 0;  ///< 0 other, 1 ridge ending, 2 bifurcation
};

/// Minutiae to draw on the image of record (`type`, `occurrence`): those of every Type-9 record
/// whose IDC leads to this image as the feature-set conversion finds it. The INCITS 378 block is
/// taken as it is (pixels); the FBI IAFIS, extended and legacy blocks are converted to pixels as
/// the conversion converts them. `source` names the block used ("" when none).
[[nodiscard]] std::vector<MinutiaMark> minutiaeForImage(const transaction::NistFile& file, int type,
                                                        int occurrence, std::string& source);

}  // namespace varnel::app
