#include "cli/dump.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <string>

#include "transaction/tree.h"

#ifdef VARNEL_HAVE_XML
#include "xml/xml_codec.h"
#endif

namespace varnel::cli {
namespace {

ImageDescriber gDescriber = nullptr;

// Text with control and non-ASCII bytes shown as \xNN, so separators and binary values are seen.
std::string printable(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

}  // namespace

void setImageDescriber(ImageDescriber describer) noexcept { gDescriber = describer; }

void dumpTransaction(const transaction::NistFile& file, std::ostream& out) {
  const transaction::Transaction* tx = file.transaction();
  if (tx == nullptr) return;
  out << "Transaction: " << tx->records.size() << " records, " << tx->byteTotal << " bytes"
      << (tx->loadedFromXml ? " (XML encoding)" : "") << "\n";
  std::map<int, int> seen;
  for (std::size_t r = 0; r < tx->records.size(); ++r) {
    const transaction::Record& rec = tx->records[r];
    const int occurrence = seen[rec.type]++;
    out << "Record " << r + 1 << ": Type-" << rec.type << " #" << occurrence << ", "
        << rec.byteTotal << " bytes, " << (rec.hasFs ? "tagged" : "binary") << "\n";
    for (const auto& field : rec.fields) {
      char tag[32];
      std::snprintf(tag, sizeof tag, "%d.%03d", rec.type, field.fieldNumber);
      out << "  " << tag << ":";
      if (transaction::isImageDataField(rec.type, field.fieldNumber)) {
        std::size_t bytes = 0;
        for (const auto& sf : field.subfields) {
          for (const auto& item : sf.items) bytes += item.value.size();
        }
        out << " <" << bytes << " bytes of image data>";
        if (gDescriber != nullptr) {
          const std::string more = gDescriber(file, rec.type, occurrence);
          if (!more.empty()) out << " " << more;
        }
        out << "\n";
        continue;
      }
      if (field.subfields.size() == 1 && field.subfields[0].items.size() == 1) {
        out << " " << printable(field.subfields[0].items[0].value) << "\n";
        continue;
      }
      out << " " << field.subfields.size() << " subfield(s)\n";
      for (std::size_t s = 0; s < field.subfields.size(); ++s) {
        out << "    [" << s << "]";
        const auto& items = field.subfields[s].items;
        for (std::size_t i = 0; i < items.size(); ++i) {
          out << (i == 0 ? " " : " | ") << printable(items[i].value);
        }
        out << "\n";
      }
    }
  }
}

void addDumpCommand(CLI::App& app, int& exitCode) {
  auto* cmd = app.add_subcommand("dump",
                                 "Show the records, fields, subfields and items of a "
                                 "transaction file");
  auto path = std::make_shared<std::string>();
  cmd->add_option("FILE", *path, "Transaction file")->required();
  cmd->callback([path, &exitCode] {
#ifdef VARNEL_HAVE_XML
    static const xml::XmlCodecImpl kXml;
    transaction::NistFile file(&kXml);
#else
    transaction::NistFile file;
#endif
    const int status = file.load(*path);
    if (status != 0) {
      std::cerr << "varnel dump: \"" << *path << "\" does not load (status " << status << ")\n";
      exitCode = 1;
      return;
    }
    dumpTransaction(file, std::cout);
    exitCode = 0;
  });
}

}  // namespace varnel::cli
