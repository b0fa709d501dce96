#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/json_document.h"
#include "scraper/result_file.h"

namespace orgkat {

// The failure of a body that holds no organisation record (as opposed to a row that cannot be
// written).
class NoRecordError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Characters with codes up to 32 stripped from both ends.
std::string TrimValue(std::string_view text);
// Every double quote doubled.
std::string EscapeQuotes(std::string_view text);

// The text a cell holds for `text`: with a leading apostrophe when a spreadsheet would take it for
// a formula ('=', '+', '-' or '@' first, longer than that, not a number), so it stays text.
std::string SpreadsheetText(std::string_view text);

// The text of member `name` of `container`; empty when the container is absent, not an object, or
// has no such member.
std::string MemberText(const std::optional<JsonValue>& container, std::string_view name);

// The row of ten cells for one record body (without its line break). Sets lastDirector to empty
// first, then to the record's director text. Throws NoRecordError when the body holds no record.
std::string RecordRow(std::string_view body, std::string& lastDirector);

// Appends the record's row and its line break to the file (two write operations).
void WriteRecordRow(std::string_view body, TResultFile& file, std::string& lastDirector);

}  // namespace orgkat
