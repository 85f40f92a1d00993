// Feeds arbitrary bytes to the XML reader on a transaction prepared as load prepares it, then
// writes whatever was read in both encodings, so reader and writer meet every shape of input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "transaction/nist_file.h"
#include "transaction/traditional.h"
#include "xml/reader.h"
#include "xml/writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using varnel::transaction::NistFile;
  NistFile file;
  file.createEmpty();
  // The default Type-1 record that load prepares before reading XML.
  (void)file.setField(1, 2, "0201");
  (void)file.setField(1, 5, "20081120");
  (void)file.setField(1, 4, "MAP");
  (void)file.setField(1, 7, "Brennic");
  (void)file.setField(1, 8, "Brennic");
  (void)file.setField(1, 9, "1234567890");
  const std::string_view doc(reinterpret_cast<const char*>(data), data ? size : 0);
  (void)varnel::xml::readXmlBytes(doc, file);
  std::string out;
  (void)varnel::xml::writeXmlToString(file, out);
  if (file.transaction() != nullptr) {
    std::string traditional;
    (void)varnel::transaction::writeTraditionalBytes(*file.transaction(), traditional);
  }
  return 0;
}
