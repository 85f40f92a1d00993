#include "rules/report.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "rules/detail/output_files.h"
#include "rules/status.h"

namespace varnel::rules {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::size_t kTimeSlot = 19;

constexpr std::string_view kMessagesHeader =
    "<div id=\"messages\"><a name=\"Solution\"><h3 _locID=\"ProjectDisplayNameHeader\"> </h3>"
    "<table><tr id=\"SolutionHeaderRow\"><th></th><th class=\"messageCell\" "
    "_locID=\"MessageTableHeader\">Message</th></tr>";

constexpr std::string_view kTail = "</table></a></div></div></body></html>";

void line(std::string& out, std::string_view text) {
  out += text;
  out += kCrLf;
}

}  // namespace

std::string escapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string reportTemplate(std::string_view time19) {
  std::string time(time19.substr(0, kTimeSlot));
  time.resize(kTimeSlot, ' ');
  std::string t;
  line(t, "<!DOCTYPE html>");
  line(t, "<!-- saved from url=(0014)about:internet -->");
  line(t, "<html>");
  line(t, "<head>");
  line(t, "<meta http-equiv=\"Content-Language\" content=\"en-us\">");
  line(t, "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">");
  line(t, "<title _locID=\"ConversionReport0\">NIST Conversion Report</title>");
  line(t, "<style>");
  line(t,
       "body { background-color: #F3F3F4; color: #1E1E1F; font-family: \"Segoe UI\", Tahoma, "
       "Geneva, Verdana, sans-serif; padding: 0; margin: 0; }");
  line(t,
       "h1 { font-size: 21pt; font-weight: normal; padding: 10px 0 10px 10px; "
       "background-color: #E2E2E2; color: #201F20; border-bottom: 1px solid #C1C1C2; "
       "margin: 0; }");
  line(t, "h2 { font-size: 18pt; font-weight: normal; padding: 15px 0 5px 0; margin: 0; }");
  line(t, "h3 { font-size: 15pt; font-weight: normal; padding: 15px 0 5px 0; margin: 0; }");
  line(t, "a { color: #1382CE; }");
  line(t, "table { border-collapse: collapse; font-size: 10pt; }");
  line(t, "th { background: #E7E7E8; text-align: left; font-weight: normal; padding: 3px 6px; }");
  line(t,
       "td { vertical-align: top; padding: 3px 6px 5px 5px; border: 1px solid #E7E7E8; "
       "background: #F7F7F8; }");
  line(t, ".messageCell { width: 100%; }");
  line(t, "#content { padding: 0 12px 12px 12px; }");
  line(t, "#messages table { width: 100%; }");
  line(t, "#messageFilter { padding: 6px 0; font-size: 10pt; }");
  line(t,
       "table.hideError tr:has(> td.IconErrorEncoded), "
       "table.hideWarning tr:has(> td.IconWarningEncoded), "
       "table.hideInfo tr:has(> td.IconInfoEncoded), tr.filteredOut { display: none; }");
  const char* const kIconClasses[] = {"IconSuccessEncoded", "IconInfoEncoded", "IconWarningEncoded",
                                      "IconErrorEncoded"};
  for (int i = 0; i < 4; ++i) {
    line(t, std::string(".") + kIconClasses[i] +
                " { min-width: 18px; min-height: 18px; background-repeat: no-repeat; "
                "background-position: center; background-image: url(" +
                iconDataUri(i) + "); }");
  }
  line(t, "</style>");
  line(t, "<script type=\"text/javascript\">");
  // A run of a million files gives a million rows: the page is only ever walked once at load,
  // addresses are turned into links only in the cells that hold one, and the filter hides rows
  // by their icon without rewriting the table.
  static constexpr std::string_view kScript = R"JS(function linkify(text) {
  return text.replace(/\b((?:https?|ftp|file):\/\/[^\s<"]+)/gi, '<a href="$1">$1<\/a>');
}
window.onload = function () {
  var m = document.getElementById("messages");
  if (!m) { return; }
  var cells = m.getElementsByTagName("td");
  for (var i = 0; i < cells.length; i++) {
    if (cells[i].textContent.indexOf("://") >= 0) { cells[i].innerHTML = linkify(cells[i].innerHTML); }
  }
  addMessageFilter(m);
};
function rowsNamed(prefix) {
  var rows = document.getElementsByTagName("tr"), found = [];
  for (var i = 0; i < rows.length; i++) {
    var n = rows[i].getAttribute("name");
    if (n && n.indexOf(prefix) === 0) { found.push(rows[i]); }
  }
  return found;
}
function showRows(prefix) { rowsNamed(prefix).forEach(function (r) { r.style.display = ""; }); }
function hideRows(prefix) { rowsNamed(prefix).forEach(function (r) { r.style.display = "none"; }); }
function scrollToRows(prefix) { var r = rowsNamed(prefix); if (r.length) { r[0].scrollIntoView(); } }
function messageTable() { return document.getElementById("messages").getElementsByTagName("table")[0]; }
function addMessageFilter(m) {
  var bar = document.createElement("div"), kinds = [["Error", "Errors"], ["Warning", "Warnings"], ["Info", "Information"]];
  bar.id = "messageFilter";
  kinds.forEach(function (k) {
    var box = document.createElement("input"), label = document.createElement("label");
    box.type = "checkbox"; box.checked = true; box.id = "show" + k[0];
    box.onchange = function () { messageTable().classList.toggle("hide" + k[0], !box.checked); };
    label.appendChild(box); label.appendChild(document.createTextNode(" " + k[1] + " "));
    bar.appendChild(label);
  });
  var first = document.createElement("input"), label = document.createElement("label");
  first.type = "checkbox"; first.id = "problemsFirst";
  first.onchange = function () { problemsFirst(first.checked); };
  label.appendChild(first); label.appendChild(document.createTextNode(" Errors and warnings first "));
  bar.appendChild(label);
  var text = document.createElement("input"), timer = null;
  text.type = "search"; text.id = "filterText"; text.placeholder = "Show rows containing...";
  text.oninput = function () { clearTimeout(timer); timer = setTimeout(function () { filterText(text.value); }, 300); };
  bar.appendChild(text);
  m.insertBefore(bar, m.firstChild);
}
function filterText(value) {
  var rows = messageTable().rows, v = value.toLowerCase();
  for (var i = 1; i < rows.length; i++) {
    if (!rows[i].getAttribute("name")) {
      rows[i].classList.toggle("filteredOut", v !== "" && rows[i].textContent.toLowerCase().indexOf(v) < 0);
    }
  }
}
function problemsFirst(on) {
  var table = messageTable(), body = table.tBodies[0], rows = Array.prototype.slice.call(table.rows, 1);
  rows.forEach(function (r, i) { if (r.order === undefined) { r.order = i; } });
  var rank = function (r) { var c = r.cells[0] ? r.cells[0].className : ""; return c === "IconErrorEncoded" ? 0 : c === "IconWarningEncoded" ? 1 : 2; };
  rows.sort(function (a, b) { return (on ? rank(a) - rank(b) : 0) || a.order - b.order; });
  var f = document.createDocumentFragment();
  rows.forEach(function (r) { f.appendChild(r); });
  body.appendChild(f);
})JS";
  for (std::size_t pos = 0; pos < kScript.size();) {
    std::size_t nl = kScript.find('\n', pos);
    if (nl == std::string_view::npos) nl = kScript.size();
    line(t, kScript.substr(pos, nl - pos));
    pos = nl + 1;
  }
  line(t, "</script>");
  line(t, "</head><body><h1 _locID=\"ConversionReport\">");
  t += "          NIST Conversion Report - ";
  t += time;
  t += "</h1>";
  return t;
}

std::string_view messagesHeader() noexcept { return kMessagesHeader; }

std::string_view reportTail() noexcept { return kTail; }

std::string formatOverview(const RunCounts& c) {
  char buf[kOverviewAreaSize + 1];
  const int n = std::snprintf(
      buf, sizeof buf,
      "<div id=\"content\"><h2 _locID=\"OverviewTitle\">Overview</h2><div style=\"float: left; "
      "\">%d processed of %d<br/>%sTime taken: %lld milliseconds<br/>Errors: %d<br/>Warning: "
      "%d<br/>Messages: %d<br/></div><div style=\"float: right;\">Varnel version: %s<br/>NIST "
      "Tavrix version: %s<br/>WSQ Library version: %s<br/></div>",
      c.processed, c.total, c.stopped ? "Stopped before the end of the folder<br/>" : "",
      c.elapsedMs, c.errors, c.warnings, c.messages, std::string(kProgramVersion).c_str(),
      std::string(kLibraryVersion).c_str(), std::string(kLibraryVersion).c_str());
  if (n < 0) return {};
  // snprintf stops at the buffer, so the block never spills out of its area.
  return std::string(buf, std::min<std::size_t>(static_cast<std::size_t>(n), kOverviewAreaSize));
}

std::string formatRow(const ReportRow& row, std::string_view displayName) {
  std::string out = "<tr>";
  switch (row.kind) {
    case RowKind::kError:
      out += "<td class=\"IconErrorEncoded\"></td>";
      break;
    case RowKind::kWarning:
      out += "<td class=\"IconWarningEncoded\"></td>";
      break;
    case RowKind::kInfo:
      out += "<td class=\"IconInfoEncoded\"></td>";
      break;
  }
  out += "<td class=\"messageCell\">";
  if (row.withFileName) {
    out += "<strong>";
    out += escapeHtml(displayName);
    out += ": </strong>";
  }
  out += escapeHtml(row.text);
  out += "</td></tr>";
  if (row.withFileName) out += '\n';
  return out;
}

void ReportFile::fail() noexcept {
  if (!failed_) error_ = errno;
  failed_ = true;
}

int ReportFile::create(const std::string& path, std::string_view time19) noexcept {
  try {
    errno = 0;
    const int fd = detail::createReplacing(path);
    if (fd < 0) {
      fail();
      return kWriteFailed;
    }
    file_.reset(::fdopen(fd, "wb"));
    if (!file_) {
      fail();
      ::close(fd);
      return kWriteFailed;
    }
    const std::string head = reportTemplate(time19);
    templateLength_ = static_cast<long>(head.size());
    const std::string spaces(kOverviewAreaSize, ' ');
    bool ok = std::fwrite(head.data(), 1, head.size(), file_.get()) == head.size();
    ok = ok && std::fwrite(spaces.data(), 1, spaces.size(), file_.get()) == spaces.size();
    ok = ok && std::fwrite(kMessagesHeader.data(), 1, kMessagesHeader.size(), file_.get()) ==
                   kMessagesHeader.size();
    ok = ok && std::fflush(file_.get()) == 0;
    if (!ok) {
      fail();
      file_.reset();
      return kWriteFailed;
    }
    return kOk;
  } catch (...) {
    fail();
    file_.reset();
    return kWriteFailed;
  }
}

int ReportFile::append(const ReportRow& row, std::string_view displayName) noexcept {
  if (!file_) return kWriteFailed;
  try {
    const std::string text = formatRow(row, displayName);
    if (std::fwrite(text.data(), 1, text.size(), file_.get()) != text.size()) fail();
    rowBytes_ += text.size();
  } catch (...) {
    fail();
  }
  return failed_ ? kWriteFailed : kOk;
}

int ReportFile::flush() noexcept {
  if (!file_) return kWriteFailed;
  if (std::fflush(file_.get()) != 0) fail();
  return failed_ ? kWriteFailed : kOk;
}

int ReportFile::finish(const RunCounts& counts) noexcept {
  if (!file_) return kWriteFailed;
  try {
    // Even after a failed row the page is closed and the overview written, so that what
    // could be written stays readable.
    if (std::fwrite(kTail.data(), 1, kTail.size(), file_.get()) != kTail.size()) fail();
    const std::string overview = formatOverview(counts);
    if (std::fseek(file_.get(), templateLength_, SEEK_SET) == 0) {
      if (std::fwrite(overview.data(), 1, overview.size(), file_.get()) != overview.size()) fail();
      if (std::fseek(file_.get(), 0, SEEK_END) != 0) fail();
    } else {
      fail();
    }
    if (std::fclose(file_.release()) != 0) fail();
    return failed_ ? kWriteFailed : kOk;
  } catch (...) {
    fail();
    file_.reset();
    return kWriteFailed;
  }
}

}  // namespace varnel::rules
