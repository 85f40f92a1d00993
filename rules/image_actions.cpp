// Image rule actions: recompression of record images through the image layer.
#include "rules/detail/image_actions.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "imaging/image.h"
#include "imaging/image_layer.h"
#include "imaging/status.h"
#include "imaging/wsq/wsq.h"
#include "transaction/tree.h"

namespace varnel::rules::detail {

void convertImageFormat(ActionContext& ctx) {
  const long long t = transaction::parseLeadingInt(ctx.params[0]);
  if (t < 1 || t > 99) return;
  const int type = static_cast<int>(t);
  const int source = imaging::imageFormatFromName(ctx.params[1]);
  const int target = imaging::imageFormatFromName(ctx.params[2]);
  const int count = ctx.file.countRecords(type);
  for (int i = 0; i < count; ++i) {
    if (imaging::compressionFromField(ctx.file, type, i) != source) continue;
    if (!ctx.conditionsHold(RecordContext{type, i})) continue;
    std::string reason;
    const int rc = imaging::recompressRecordImage(ctx.file, type, i, target, reason);
    if (rc < 0 && rc != imaging::kAlreadyTarget) {
      // kUndecodable and kEncodeFailed share a value; the reason tells them apart.
      const char* why = rc == imaging::kUndecodable   ? "the image could not be decoded"
                        : rc == imaging::kOneBitImage ? "1-bit images are not converted"
                                                      : "the image could not be converted";
      ctx.warn("Type-" + std::to_string(type) + " record " + std::to_string(i + 1) + ": " + why +
               "; \"Convert Image Format\" left it as it was" +
               (reason.empty() || rc == imaging::kOneBitImage ? "" : " (" + reason + ")"));
    }
  }
}

void compressRecordsToWsq(ActionContext& ctx) {
  const double bitrate = std::strtod(ctx.params[0].c_str(), nullptr);
  if (!std::isfinite(bitrate) || bitrate <= 0) return;  // the encoder needs a positive rate
  (void)wsq::hostImplementationNumber();
  (void)imaging::compressRecordsOfType(ctx.file, 14, static_cast<float>(bitrate), true);
}

void compressRecordsToJp2l(ActionContext& ctx) {
  for (int type : {13, 14, 15, 19}) (void)imaging::compressRecordsOfType(ctx.file, type, 0, false);
}

}  // namespace varnel::rules::detail
