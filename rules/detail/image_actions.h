#pragma once

#include "rules/action_context.h"

namespace varnel::rules::detail {

/// "Convert Image Format": parameter 1 the record type, 2 the source and 3 the target format
/// name ("NONE", "WSQ", "JP2 Lossless", "PNG"); records whose field names the source format
/// and whose conditions hold are recompressed.
void convertImageFormat(ActionContext& ctx);
/// "Compress Records To WSQ": parameter 1 the bitrate; raw 500 ppi Type-14 images.
void compressRecordsToWsq(ActionContext& ctx);
/// "Compress Records To JP2L": raw Type 13, 14, 15 and 19 images at 500-4000 ppi.
void compressRecordsToJp2l(ActionContext& ctx);

}  // namespace varnel::rules::detail
