#include "scraper/record_row.h"

#include <stdexcept>

#include "platform/json_document.h"

namespace orgkat {

namespace {

constexpr std::string_view kNotGiven = "Не указано";

// The address value: `address` when present with any value, else the first element of an
// `others` array; nothing when neither gives one.
std::optional<JsonValue> AddressValue(const JsonValue& record) {
  if (auto address = record.Member("address")) return address;
  const auto others = record.Member("others");
  return others ? others->Element(0) : std::nullopt;
}

// Non-empty texts joined by ", ", except that an empty text after a non-empty one still adds
// its separator.
std::string JoinedPhones(const std::optional<JsonValue>& address) {
  std::string joined;
  const auto phones = address ? address->Member("phones") : std::nullopt;
  if (!phones) return joined;
  for (auto element = phones->First(); element; element = element->Next()) {
    const std::string phone = MemberText(element, "phone");
    if (!joined.empty()) joined += ", ";
    joined += phone;
  }
  return joined;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A decimal number with an optional sign, fraction and exponent ("-5", "+1.5e3"), as a
// spreadsheet reads it.
bool IsNumber(std::string_view text) {
  std::size_t i = 0;
  const auto digits = [&] {
    const std::size_t from = i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    return i - from;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t mantissa = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == text.size();
}

// A spreadsheet would take the text for a formula.
bool IsFormula(std::string_view text) {
  return text.size() > 1 && std::string_view("=+-@").find(text[0]) != std::string_view::npos &&
         !IsNumber(text);
}

void AppendCell(std::string& row, std::string_view separator, std::string_view text) {
  row += separator;
  row += EscapeQuotes(SpreadsheetText(text));
}

// The phone cells begin with a space of their own, so no spreadsheet reads them as formulas.
void AppendPhoneCell(std::string& row, std::string_view separator, std::string_view text) {
  row += separator;
  row += EscapeQuotes(text);
}

}  // namespace

std::string SpreadsheetText(std::string_view text) {
  return IsFormula(text) ? "'" + std::string(text) : std::string(text);
}

std::string TrimValue(std::string_view text) {
  const auto kept = [](char c) { return static_cast<unsigned char>(c) > ' '; };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && !kept(text[begin])) ++begin;
  while (end > begin && !kept(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string EscapeQuotes(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (auto quote = text.find('"'); quote != std::string_view::npos; quote = text.find('"')) {
    out.append(text.substr(0, quote + 1));
    out += '"';
    text.remove_prefix(quote + 1);
  }
  out.append(text);
  return out;
}

std::string MemberText(const std::optional<JsonValue>& container, std::string_view name) {
  const auto value = container ? container->Member(name) : std::nullopt;
  return value ? value->Text() : std::string();
}

std::string RecordRow(std::string_view body, std::string& lastDirector) {
  lastDirector.clear();
  const auto document = JsonDocument::Parse(body);
  const auto record = document != nullptr ? document->Root().Member("list") : std::nullopt;
  if (!record) throw NoRecordError("В ответе нет записи организации");

  const std::string title = MemberText(record, "title");
  const std::string fullTitle = MemberText(record, "title_full");
  const std::string director = MemberText(record, "director");
  lastDirector = director;

  const auto address = AddressValue(*record);
  const std::string addressText = MemberText(address, "title");
  const std::string phones = JoinedPhones(address);

  std::string directorPhone;
  std::string directorEmail;
  if (const auto current = record->Member("current_director")) {
    directorEmail = MemberText(current, "email");
    if (MemberText(current, "phone") != kNotGiven) directorPhone = MemberText(current, "eo_phone");
  }
  const auto area = record->Member("area");
  const std::string district = area ? MemberText(area, "name_short") : std::string();

  std::string row;
  row.reserve(512);
  AppendCell(row, "\"", title);
  AppendCell(row, "\";\"", fullTitle);
  AppendCell(row, "\";\"", TrimValue(district));
  AppendCell(row, "\";\"", TrimValue(addressText));
  AppendPhoneCell(row, "\";\" ", TrimValue(phones));
  AppendCell(row, "\";\"", TrimValue(MemberText(record, "email")));
  AppendCell(row, "\";\"", TrimValue(MemberText(record, "website")));
  AppendCell(row, "\";\"", TrimValue(director));
  AppendPhoneCell(row, "\";\" ", TrimValue(directorPhone));
  AppendCell(row, "\";\"", TrimValue(directorEmail));
  row += '"';
  return row;
}

void WriteRecordRow(std::string_view body, TResultFile& file, std::string& lastDirector) {
  const std::string row = RecordRow(body, lastDirector);
  file.Write(row);
  file.WriteLineBreak();
}

}  // namespace orgkat
