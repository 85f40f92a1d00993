// Image data set aside before parsing (see set_aside.h).
#include "xml/detail/set_aside.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "transaction/base64.h"

namespace varnel::xml::detail {

namespace {

// Placeholder put in place of the text; "@" is not of the base64 alphabet, so no genuine image
// data text decodes to anything but nothing when it starts so.
constexpr std::string_view kMarker = "@varnel-blob:";

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool endsWithDataName(std::string_view name) {
  return endsWith(name, ":BinaryBase64Object") || endsWith(name, ":Base64BinaryObject");
}

// Appends code point `cp` as UTF-8.
void appendUtf8(std::uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Character data with the five predefined entities and character references replaced; anything
// else that starts with "&" is kept as it stands. (The parser garbles an unknown entity that
// follows a CR LF, so image text is not left to it.)
std::string resolveEntities(std::string_view text) {
  static constexpr std::array<std::pair<std::string_view, char>, 5> kNamed = {
      {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}}};
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out.push_back(text[i]);
      continue;
    }
    const std::string_view rest = text.substr(i);
    bool done = false;
    for (const auto& [name, ch] : kNamed) {
      if (rest.substr(0, name.size()) == name) {
        out.push_back(ch);
        i += name.size() - 1;
        done = true;
        break;
      }
    }
    if (!done && rest.size() > 3 && rest[1] == '#') {
      const bool hex = rest[2] == 'x';
      const std::size_t from = hex ? 3 : 2;
      const std::size_t semi = rest.find(';');
      bool valid = semi != std::string_view::npos && semi > from && semi - from <= 8;
      std::uint32_t cp = 0;
      for (std::size_t k = from; valid && k < semi; ++k) {
        const char d = rest[k];
        int v = -1;
        if (d >= '0' && d <= '9') {
          v = d - '0';
        } else if (hex && d >= 'a' && d <= 'f') {
          v = d - 'a' + 10;
        } else if (hex && d >= 'A' && d <= 'F') {
          v = d - 'A' + 10;
        }
        valid = v >= 0;
        if (valid) cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(v);
      }
      if (valid && cp <= 0x10FFFF) {
        appendUtf8(cp, out);
        i += semi;
        done = true;
      }
    }
    if (!done) out.push_back('&');
  }
  return out;
}

// Decodes base64 image data text; entity references are rare in it, so they are resolved only
// when decoding stops at one.
DecodedBlob decodeImageText(std::string_view text) {
  DecodedBlob blob;
  blob.valid = transaction::decodeBase64Strict(text, blob.bytes);
  if (!blob.valid && text.find('&') != std::string_view::npos) {
    blob.valid = transaction::decodeBase64Strict(resolveEntities(text), blob.bytes);
  }
  return blob;
}

}  // namespace

// Image data makes up nearly all of a large document, and the parser copies and rescans every
// character of it. So before parsing, the text of each long image data element is decoded from
// the file's bytes (entity references resolved as the parser would), while it is still in the
// cache, and replaced in the copy given to the parser by a placeholder naming the decoded bytes.
// Comments, CDATA sections and processing instructions are stepped over; a document with a
// DOCTYPE is left as it is.
void setAsideImageData(InputWindow& in, std::string& doc, std::vector<DecodedBlob>& blobs) {
  constexpr std::uint64_t npos = InputWindow::npos;
  doc.clear();
  std::uint64_t copied = 0;
  std::uint64_t pos = 0;
  while (pos < in.size()) {
    const std::uint64_t lt = in.find('<', pos);
    if (lt == npos) break;
    const std::string_view rest = in.view(lt, lt + 9);
    if (rest == "<!DOCTYPE") {
      // Entities declared there could stand anywhere; the parser gets the document as it is.
      blobs.clear();
      doc.clear();
      in.appendAll(doc);
      return;
    }
    std::string_view close;
    if (rest.substr(0, 4) == "<!--") {
      close = "-->";
    } else if (rest == "<![CDATA[") {
      close = "]]>";
    } else if (rest.substr(0, 2) == "<?") {
      close = "?>";
    }
    if (!close.empty()) {
      const std::uint64_t e = in.find(close, lt + 2);
      if (e == npos) break;
      pos = e + close.size();
      continue;
    }
    const std::uint64_t gt = in.find('>', lt);
    if (gt == npos) break;
    pos = gt + 1;
    const std::string_view tag = in.view(lt + 1, gt);
    if (tag.empty() || tag.front() == '/' || tag.front() == '!' || tag.back() == '/' ||
        tag.find_first_of("\"'") != std::string_view::npos) {
      continue;
    }
    const std::string_view name = tag.substr(0, tag.find_first_of(" \t\r\n"));
    if (!endsWithDataName(name)) continue;
    const std::uint64_t textEnd = std::min(in.find('<', pos), in.size());
    if (textEnd - pos < kMinSetAsideText) continue;
    doc.append(in.view(copied, pos));
    doc.append(kMarker);
    doc.append(std::to_string(blobs.size()));
    blobs.push_back(decodeImageText(in.view(pos, textEnd)));
    copied = textEnd;
    in.keepFrom(copied);
    pos = textEnd;
  }
  doc.append(in.view(copied, in.size()));
}

bool takeSetAsideData(std::string_view text, std::vector<DecodedBlob>* blobs, DecodedBlob& out) {
  if (blobs == nullptr || text.substr(0, kMarker.size()) != kMarker) return false;
  std::uint64_t index = 0;
  if (transaction::parseUnsigned(text.substr(kMarker.size()), index) && index < blobs->size()) {
    out = std::move((*blobs)[index]);
  } else {
    out.valid = false;
  }
  return true;
}

}  // namespace varnel::xml::detail
