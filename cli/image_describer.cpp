// Lets `varnel dump` show each image's detected format, width, height and depth.
#include "cli/dump.h"
#include "imaging/image_layer.h"

namespace varnel::cli {
namespace {

std::string describe(const transaction::NistFile& file, int type, int occurrence) {
  return imaging::describeRecordImage(file, type, occurrence);
}

const bool kRegistered = (setImageDescriber(&describe), true);

}  // namespace
}  // namespace varnel::cli
