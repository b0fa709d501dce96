// A record body through the JSON document and the row writer: the whole document converts to
// text, and a row, when one is produced, reads back as ten quoted cells whose texts are the
// record's member texts, followed by exactly one CR LF in the file.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/json_document.h"
#include "scraper/record_row.h"
#include "scraper/result_file.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_record_row: %s\n", what);
  std::abort();
}

// Splits a row by the quoting rules: every cell quoted, "" an escaped quote, ";" between cells
// and "; " (the space inside the opening quote) before cells 5 and 9. Nothing when the row does
// not follow them.
std::optional<std::vector<std::string>> ReadRow(std::string_view row) {
  std::vector<std::string> cells;
  std::size_t i = 0;
  if (row.empty() || row[i++] != '"') return std::nullopt;
  for (;;) {
    std::string cell;
    for (;;) {
      if (i >= row.size()) return std::nullopt;
      if (row[i] != '"') {
        cell += row[i++];
      } else if (i + 1 < row.size() && row[i + 1] == '"') {
        cell += '"';
        i += 2;
      } else {
        break;
      }
    }
    ++i;  // the closing quote
    cells.push_back(std::move(cell));
    if (i == row.size()) break;
    if (row.substr(i, 2) != ";\"") return std::nullopt;
    i += 2;
    const bool phoneCell = cells.size() == 4 || cells.size() == 8;
    if (phoneCell) {
      if (i >= row.size() || row[i] != ' ') return std::nullopt;
      ++i;
    }
  }
  return cells;
}

bool Trimmed(std::string_view text) {
  const auto kept = [](char c) { return static_cast<unsigned char>(c) > ' '; };
  return text.empty() || (kept(text.front()) && kept(text.back()));
}

// The file the rows go to: an in-memory file emptied before each row.
class RowFile {
 public:
  RowFile() : fd_(memfd_create("fuzz_record_row", MFD_CLOEXEC)) {
    if (fd_ < 0) Fail("no in-memory file");
    file_.Attach(orgkat::OutputFile(dup(fd_), "row file"));
  }
  orgkat::TResultFile& Emptied() {
    if (ftruncate(fd_, 0) != 0 || lseek(fd_, 0, SEEK_SET) != 0) Fail("cannot empty the row file");
    return file_;
  }
  std::string Contents() const {
    std::string bytes;
    char buffer[4096];
    off_t offset = 0;
    for (ssize_t count; (count = pread(fd_, buffer, sizeof buffer, offset)) > 0; offset += count) {
      bytes.append(buffer, static_cast<std::size_t>(count));
    }
    return bytes;
  }

 private:
  int fd_;
  orgkat::TResultFile file_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static RowFile rowFile;
  const std::string_view body(reinterpret_cast<const char*>(data), size);

  const auto document = orgkat::JsonDocument::Parse(body);
  std::optional<orgkat::JsonValue> record;
  if (document != nullptr) {
    const std::string text = document->Root().Text();
    if (document->Root().IsObject() && (text.empty() || text.front() != '{')) {
      Fail("object text does not start with {");
    }
    record = document->Root().Member("list");
  }

  std::string lastDirector = "stale";
  auto& file = rowFile.Emptied();
  try {
    orgkat::WriteRecordRow(body, file, lastDirector);
  } catch (const std::runtime_error&) {
    if (record) Fail("a record body failed");
    if (!lastDirector.empty()) Fail("last director kept after a failure");
    if (!rowFile.Contents().empty()) Fail("a failed record wrote bytes");
    return 0;
  }
  if (!record) Fail("a row from a body without record");

  const std::string written = rowFile.Contents();
  if (written.size() < 2 || written.compare(written.size() - 2, 2, "\r\n") != 0) {
    Fail("row not ended by CR LF");
  }
  const auto cells = ReadRow(std::string_view(written).substr(0, written.size() - 2));
  if (!cells) Fail("row does not follow the quoting rules");
  if (cells->size() != 10) Fail("row without ten cells");
  for (std::size_t i = 2; i < 10; ++i) {
    if (!Trimmed((*cells)[i])) Fail("cells 3 to 10 are not trimmed");
  }
  using orgkat::MemberText;
  using orgkat::SpreadsheetText;
  using orgkat::TrimValue;
  if ((*cells)[0] != SpreadsheetText(MemberText(record, "title"))) Fail("cell 1 is not the title");
  if ((*cells)[1] != SpreadsheetText(MemberText(record, "title_full"))) {
    Fail("cell 2 is not the full title");
  }
  if ((*cells)[5] != SpreadsheetText(TrimValue(MemberText(record, "email")))) {
    Fail("cell 6 is not the e-mail");
  }
  if ((*cells)[6] != SpreadsheetText(TrimValue(MemberText(record, "website")))) {
    Fail("cell 7 is not the site");
  }
  if ((*cells)[7] != SpreadsheetText(TrimValue(MemberText(record, "director")))) {
    Fail("cell 8 is not the director");
  }
  if (lastDirector != MemberText(record, "director")) Fail("last director is not the director");
  return 0;
}
