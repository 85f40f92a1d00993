#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "tests/common/files.h"
#include "transaction/nist_file.h"
#include "xml/xml_codec.h"

namespace varnel::xml::test {

/// A NistFile wired to the XML codec.
struct XmlFile {
  XmlCodecImpl codec;
  transaction::NistFile file{&codec};
};

/// A fresh path in the test's temporary folder (removed when the process ends is not promised).
std::string tempPath(std::string_view name);
/// Writes bytes to a file, replacing it.
void writeFile(const std::string& path, std::string_view bytes);
using varnel::test::readFile;

/// Loads an XML document given as text through NistFile::load (default Type-1 prepared).
std::unique_ptr<XmlFile> loadXml(std::string_view document);
/// Wraps record elements in the package root with the usual namespace bindings.
std::string package(std::string_view records, std::string_view extraNamespaces = "");

/// Text of item 0 of subfield 0, or "<missing>".
std::string field(const transaction::NistFile& f, int type, int field, int occurrence = 0);
/// Whole field with US shown as "|" and RS as "^", or "<missing>".
std::string fullField(const transaction::NistFile& f, int type, int field, int occurrence = 0);

/// Success when xmllint finds the file well-formed; a failure when it does not or when xmllint
/// is missing.
::testing::AssertionResult wellFormed(const std::string& path);

/// Record types in Transaction order, e.g. "1 2 14 14".
std::string recordTypes(const transaction::NistFile& f);

}  // namespace varnel::xml::test
