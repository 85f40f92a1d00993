#include "cli/dump.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>

#include "rules/run.h"
#include "transaction/printable.h"
#include "transaction/tree.h"
#include "xml/xml_codec.h"

namespace varnel::cli {
namespace {

ImageDescriber gDescriber = nullptr;

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
      (void)std::snprintf(tag, sizeof tag, "%d.%03d", rec.type, field.fieldNumber);
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
        out << " " << transaction::printableText(field.subfields[0].items[0].value) << "\n";
        continue;
      }
      out << " " << field.subfields.size() << " subfield(s)\n";
      for (std::size_t s = 0; s < field.subfields.size(); ++s) {
        out << "    [" << s << "]";
        const auto& items = field.subfields[s].items;
        for (std::size_t i = 0; i < items.size(); ++i) {
          out << (i == 0 ? " " : " | ") << transaction::printableText(items[i].value);
        }
        out << "\n";
      }
    }
  }
}

namespace {

// "<format> <width>x<height> <depth>-bit" at the start of a describer's line; the format is at
// most 31 bytes.
bool parseDescription(std::string_view text, std::string& format, int& width, int& height,
                      int& depth) {
  const std::size_t space = text.find(' ');
  if (space == 0 || space == std::string_view::npos || space > 31) return false;
  const char* p = text.data() + space + 1;
  const char* const end = text.data() + text.size();
  // A number followed by `after`; p moves past both.
  const auto number = [&](int& value, char after) {
    const auto [next, error] = std::from_chars(p, end, value);
    if (error != std::errc() || next == end || *next != after) return false;
    p = next + 1;
    return true;
  };
  if (!number(width, 'x') || !number(height, ' ') || !number(depth, '-')) return false;
  if (std::string_view(p, static_cast<std::size_t>(end - p)).substr(0, 3) != "bit") return false;
  format = std::string(text.substr(0, space));
  return true;
}

// Image data as its format, size and depth, parsed from the describer's line
// ("WSQ20 804x752 8-bit, 28414 bytes"); what the line does not say is left out.
nlohmann::json imageJson(const transaction::NistFile& file, int type, int occurrence,
                         std::size_t bytes) {
  nlohmann::json image{{"bytes", bytes}};
  if (gDescriber == nullptr) return image;
  const std::string text = gDescriber(file, type, occurrence);
  if (text.empty()) return image;
  image["description"] = text;
  std::string format;
  int width = 0, height = 0, depth = 0;
  if (parseDescription(text, format, width, height, depth)) {
    image["format"] = format;
    image["width"] = width;
    image["height"] = height;
    image["depth"] = depth;
  }
  return image;
}

void dumpTransactionJson(const transaction::NistFile& file, std::ostream& out) {
  const transaction::Transaction* tx = file.transaction();
  if (tx == nullptr) return;
  nlohmann::json records = nlohmann::json::array();
  std::map<int, int> seen;
  for (const transaction::Record& rec : tx->records) {
    const int occurrence = seen[rec.type]++;
    nlohmann::json fields = nlohmann::json::array();
    for (const auto& field : rec.fields) {
      char tag[32];
      (void)std::snprintf(tag, sizeof tag, "%d.%03d", rec.type, field.fieldNumber);
      nlohmann::json f{{"tag", tag}};
      if (transaction::isImageDataField(rec.type, field.fieldNumber)) {
        std::size_t bytes = 0;
        for (const auto& sf : field.subfields) {
          for (const auto& item : sf.items) bytes += item.value.size();
        }
        f["image"] = imageJson(file, rec.type, occurrence, bytes);
      } else {
        nlohmann::json subfields = nlohmann::json::array();
        for (const auto& sf : field.subfields) {
          nlohmann::json items = nlohmann::json::array();
          // Values are bytes: invalid UTF-8 is replaced rather than failing the document.
          for (const auto& item : sf.items) items.push_back(item.value);
          subfields.push_back(std::move(items));
        }
        f["subfields"] = std::move(subfields);
      }
      fields.push_back(std::move(f));
    }
    records.push_back({{"type", rec.type},
                       {"occurrence", occurrence},
                       {"bytes", rec.byteTotal},
                       {"encoding", rec.hasFs ? "tagged" : "binary"},
                       {"fields", std::move(fields)}});
  }
  const nlohmann::json doc{
      {"bytes", tx->byteTotal}, {"xml", tx->loadedFromXml}, {"records", std::move(records)}};
  out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

}  // namespace

void addDumpCommand(CLI::App& app, int& exitCode) {
  auto* cmd = app.add_subcommand("dump",
                                 "Show the records, fields, subfields and items of a "
                                 "transaction file");
  auto path = std::make_shared<std::string>();
  cmd->add_option("FILE", *path, "Transaction file")->required();
  auto json = std::make_shared<bool>(false);
  cmd->add_flag("--json", *json, "Print the transaction as one JSON document");
  cmd->callback([path, json, &exitCode] {
    static const xml::XmlCodecImpl kXml;
    transaction::NistFile file(&kXml);
    std::error_code ec;
    if (!std::filesystem::exists(*path, ec)) {
      std::cerr << "varnel dump: '" << *path << "' does not exist\n";
      exitCode = 1;
      return;
    }
    const int status = file.load(*path);
    if (status != 0) {
      const std::string reason = rules::loadFailureDetail(*path, status);
      std::cerr << "varnel dump: '" << *path << "' is not a transaction file that loads: "
                << (reason.empty() ? "status " + std::to_string(status) : reason) << "\n";
      exitCode = 1;
      return;
    }
    if (*json) {
      dumpTransactionJson(file, std::cout);
    } else {
      dumpTransaction(file, std::cout);
    }
    exitCode = 0;
  });
}

}  // namespace varnel::cli
