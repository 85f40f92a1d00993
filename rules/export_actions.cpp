// Export actions: record images written to the destination folder under names made from a
// template, and the rendered tenprint card.
#include "rules/detail/export_actions.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "imaging/graphics.h"
#include "imaging/image_layer.h"
#include "imaging/status.h"
#include "imaging/tenprint_card.h"
#include "rules/detail/output_files.h"
#include "rules/status.h"
#include "transaction/tree.h"

namespace varnel::rules {
namespace {

using transaction::NistFile;
namespace fs = std::filesystem;

struct BiometricName {
  std::string_view name;
  int type;
  int field;
  std::string_view text;  // exact text of the field; empty: finger position `position`
  int position;
};

constexpr BiometricName kBiometrics[] = {
    {"Right Iris", 17, 3, "1", 0},
    {"Left Iris", 17, 3, "2", 0},
    {"Front Profile", 10, 20, "F", 0},
    {"Left Profile", 10, 20, "L", 0},
    {"Right Profile", 10, 20, "R", 0},
    {"Right Thumb", 4, 4, {}, 1},
    {"Right Index", 4, 4, {}, 2},
    {"Right Middle", 4, 4, {}, 3},
    {"Right Ring", 4, 4, {}, 4},
    {"Right Little", 4, 4, {}, 5},
    {"Left Thumb", 4, 4, {}, 6},
    {"Left Index", 4, 4, {}, 7},
    {"Left Middle", 4, 4, {}, 8},
    {"Left Ring", 4, 4, {}, 9},
    {"Left Little", 4, 4, {}, 10},
    {"Plain Right Thumb", 4, 4, {}, 11},
    {"Plain Left Thumb", 4, 4, {}, 12},
    {"Plain Right Four Fingers", 4, 4, {}, 13},
    {"Plain Left Four Fingers", 4, 4, {}, 14},
};

constexpr int kUncompressed = 0;
// What the image writers (the image layer, and NistFile::exportImageData, whose value is the
// same) return when the file itself could not be written.
constexpr int kFileWriteFailed = imaging::kWriteFailed;

void errorRow(ActionContext& ctx, std::string text) {
  ctx.outcome.rows.push_back(
      ReportRow{RowKind::kError, RowCounter::kErrors, true, std::move(text)});
  ctx.outcome.hadErrorRow = true;
}

// The row for an export whose name cannot be used: it leads out of the destination folder, or
// through a link (which could lead anywhere), or a folder it names cannot be created.
void pathRefused(ActionContext& ctx, std::string_view what, const std::string& name,
                 std::string_view ext, int rc) {
  const std::string file = name + "." + std::string(ext);
  std::string_view why = " names a folder that cannot be created";
  if (rc == kPathOutsideDestination || rc == kNotARealFolder) {
    why = " leads outside the destination folder";
  } else if (rc == kOutOfMemory) {
    why = " could not be prepared: out of memory";
  }
  errorRow(ctx, std::string(what) + " not written: " + file + std::string(why));
}

// Writes one output file of an export action through a temporary file and a rename. A name the
// run already wrote, or one that lands in the source folder, is refused; these and failed writes
// of the file itself give an error row naming the file (`what` says what it is). Failures of
// the image (a record without image data) are left to the caller. Returns 0 or the failure.
int writeExport(ActionContext& ctx, std::string_view what, const std::string& path,
                const WriteFile& write) {
  const std::string name = path.substr(std::min(path.size(), ctx.run.destFolder.size()));
  RunOutputs* outputs = ctx.run.outputs;
  if (outputs != nullptr && outputs->taken(path)) {
    errorRow(ctx, std::string(what) + " not written: " + name + " already written by this run");
    return kOutputTaken;
  }
  if (outputs != nullptr && outputs->inSourceFolder(path)) {
    errorRow(ctx, std::string(what) + " not written: " + name + " is in the source folder");
    return kOutputInSourceFolder;
  }
  struct stat info {};
  if (ctx.run.noClobber && ::lstat(path.c_str(), &info) == 0) {
    errorRow(ctx, std::string(what) + " not written: " + name + " already exists");
    return kOutputExists;
  }
  if (ctx.run.dryRun) {
    // Everything but the write: the name is taken, so that later clashes show as they would.
    if (outputs != nullptr) outputs->claim(path);
    ctx.outcome.exports.push_back(name);
    return kOk;
  }
  int err = 0;
  const int rc = outputs != nullptr ? outputs->write(path, write, err)
                                    : detail::replaceThroughTemporary(path, write, err);
  if (rc == kOk) {
    if (outputs != nullptr) outputs->claim(path);
    ctx.outcome.exports.push_back(name);
  } else if (rc == kFileWriteFailed || rc == kWriteFailed) {
    errorRow(ctx, std::string(what) + " " + name +
                      " could not be written: " + detail::systemReason(err));
  }
  return rc;
}

// One export of record (type, index): counter, export index, name, folders, write. The counter
// is given back when the image cannot be written.
void exportOne(ActionContext& ctx, int type, int index, bool setExportIndex,
               std::string_view noExtension) {
  const int code = imaging::compressionFromField(ctx.file, type, index);
  const std::string_view ext = exportExtension(code, noExtension);
  ++ctx.state.exportCounter;
  if (setExportIndex) {
    ctx.state.exportRecordIndex = index;
    ctx.state.exportRecordType = type;
  }
  const std::string name = ctx.expand(ctx.params[0], RecordContext{type, index});
  std::string path;
  int rc = prepareExportPath(ctx.run.destFolder, name, ext, path, !ctx.run.dryRun);
  if (rc < 0) pathRefused(ctx, "Export", name, ext, rc);
  std::string reason;
  if (rc == kOk) {
    rc = writeExport(ctx, "Export", path, [&](const std::string& tmp, int& err) {
      return writeRecordImage(ctx.file, type, index, code, tmp, reason, err);
    });
  }
  if (rc == imaging::kUndecodable) {
    ctx.warn("Type-" + std::to_string(type) + " record " + std::to_string(index + 1) +
             ": the image could not be decoded and was not exported" +
             (reason.empty() ? "" : " (" + reason + ")"));
  }
  if (rc < 0) --ctx.state.exportCounter;
}

}  // namespace

int findBiometricRecord(const NistFile& file, std::string_view name, int& type,
                        int& index) noexcept {
  const auto* entry = std::find_if(std::begin(kBiometrics), std::end(kBiometrics),
                                   [&](const BiometricName& b) { return b.name == name; });
  if (entry == std::end(kBiometrics)) return 0;
  int found = -1;
  const int n = file.countRecords(entry->type);
  for (int i = 0; i < n; ++i) {
    std::string_view text;
    if (file.getFieldText(entry->type, entry->field, text, i) < 0) continue;
    const bool match = entry->text.empty() ? transaction::parseLeadingInt(text) == entry->position
                                           : text == entry->text;
    if (match) found = i;
  }
  if (found < 0) return 0;
  type = entry->type;
  index = found;
  return 1;
}

std::string_view exportExtension(int compression, std::string_view otherwise) noexcept {
  switch (compression) {
    case 0:
      return "BMP";
    case 1:
      return "WSQ";
    case 2:
    case 3:
      return "JPG";
    case 4:
    case 5:
      return "JP2";
    case 6:
      return "PNG";
    default:
      return otherwise;
  }
}

int prepareExportPath(const std::string& destFolder, std::string_view name,
                      std::string_view extension, std::string& path, bool create) noexcept {
  try {
    std::string local(name);
    // Rule files written on Windows separate folders with "\".
    std::replace(local.begin(), local.end(), '\\', '/');
    const std::string full = destFolder + local + "." + std::string(extension);

    // The name may not climb out of the destination folder ("..", or a path that normalises
    // outside it).
    const fs::path base = fs::path(destFolder.empty() ? "." : destFolder).lexically_normal();
    const fs::path target = fs::path(full).lexically_normal();
    const fs::path rel = target.lexically_relative(base);
    if (rel.empty() || *rel.begin() == ".." || rel == ".") return kPathOutsideDestination;

    // The normal form, so that a folder named on the way and left again need not exist.
    path = target.string();
    // Folders on the way are created; one that is a link (which could lead anywhere) is refused.
    std::string destNormal = base.string();
    if (destNormal == ".") {
      destNormal.clear();
    } else if (!destNormal.ends_with('/')) {
      destNormal += '/';
    }
    return detail::prepareOutputFolders(destNormal, path, create);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (...) {
    return kWriteFailed;
  }
}

int writeRecordImage(const NistFile& file, int type, int index, int compression,
                     const std::string& path, std::string& reason, int& err) noexcept {
  if (compression == kUncompressed) {
    return imaging::exportRecordImage(file, type, index, path, imaging::kExportBmp, reason, err);
  }
  return file.exportImageData(type, index, path, err);
}

namespace detail {

void exportBiometric(ActionContext& ctx) {
  int type = 0;
  int index = 0;
  if (findBiometricRecord(ctx.file, ctx.params[1], type, index) != 1) return;
  exportOne(ctx, type, index, false, "");
}

void exportBiometricsOfType(ActionContext& ctx) {
  const long long t = transaction::parseLeadingInt(ctx.params[1]);
  if (t <= 0 || t > 99) return;
  const int type = static_cast<int>(t);
  const int n = ctx.file.countRecords(type);
  for (int i = 0; i < n; ++i) {
    if (!ctx.conditionsHold(RecordContext{type, i})) continue;
    exportOne(ctx, type, i, true, "RAW");
  }
}

void exportAllBiometrics(ActionContext& ctx) {
  for (int type = 3; type <= 99; ++type) {
    const int n = ctx.file.countRecords(type);
    for (int i = 0; i < n; ++i) exportOne(ctx, type, i, true, "");
  }
}

void exportToTenprint(ActionContext& ctx) {
  const std::string name = ctx.expand(ctx.params[0], RecordContext{});
  std::string path;
  if (const int rc = prepareExportPath(ctx.run.destFolder, name, "TIFF", path, !ctx.run.dryRun);
      rc < 0) {
    pathRefused(ctx, "Tenprint card", name, "TIFF", rc);
    return;
  }
  imaging::Surface surface;
  if (imaging::Surface::create(imaging::kCardWidthPx, imaging::kCardHeightPx,
                               imaging::kCardPixelsPerMetre, surface) != 0) {
    return;
  }
  std::vector<imaging::CardRecord> undecodable;
  (void)writeExport(ctx, "Tenprint card", path, [&](const std::string& tmp, int& err) {
    const int rc = imaging::renderTenprintCard(ctx.file, surface, tmp, &undecodable, &err);
    // The saving statuses of the card are failures to write its file.
    return rc == imaging::kSaveFailed || rc == imaging::kNoEncoder || rc == imaging::kOutsideBitmap
               ? kFileWriteFailed
               : rc;
  });
  for (const auto& r : undecodable) {
    ctx.warn("Type-" + std::to_string(r.type) + " record " + std::to_string(r.index + 1) +
             ": the image could not be decoded and is missing from the tenprint card" +
             (r.reason.empty() ? "" : " (" + r.reason + ")"));
  }
}

}  // namespace detail

}  // namespace varnel::rules
