#include "scraper/record_row.h"

#include <stdexcept>

#include "platform/json_document.h"

namespace orgkat {

namespace {

constexpr std::string_view kNotGiven = "Не указано";

// The address value: `address` when present with any value, else the first element of an
// `others` array; nullptr when neither gives one.
const JsonValue* AddressValue(const JsonValue& record) {
  if (const JsonValue* address = record.Member("address")) return address;
  const JsonValue* others = record.Member("others");
  return others != nullptr ? others->Element(0) : nullptr;
}

// Non-empty texts joined by ", ", except that an empty text after a non-empty one still adds
// its separator.
std::string JoinedPhones(const JsonValue* address) {
  std::string joined;
  const JsonValue* phones = address != nullptr ? address->Member("phones") : nullptr;
  if (phones == nullptr) return joined;
  for (std::size_t i = 0; i < phones->Size(); ++i) {
    const std::string phone = MemberText(phones->Element(i), "phone");
    if (!joined.empty()) joined += ", ";
    joined += phone;
  }
  return joined;
}

void AppendCell(std::string& row, std::string_view separator, std::string_view text) {
  row += separator;
  row += EscapeQuotes(text);
}

}  // namespace

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

std::string MemberText(const JsonValue* container, std::string_view name) {
  const JsonValue* value = container != nullptr ? container->Member(name) : nullptr;
  return value != nullptr ? value->Text() : std::string();
}

std::string RecordRow(std::string_view body, std::string& lastDirector) {
  lastDirector.clear();
  const auto document = JsonDocument::Parse(body);
  const JsonValue* record = document != nullptr ? document->Root().Member("list") : nullptr;
  if (record == nullptr) throw NoRecordError("В ответе нет записи организации");

  const std::string title = MemberText(record, "title");
  const std::string fullTitle = MemberText(record, "title_full");
  const std::string director = MemberText(record, "director");
  lastDirector = director;

  const JsonValue* address = AddressValue(*record);
  const std::string addressText = MemberText(address, "title");
  const std::string phones = JoinedPhones(address);

  std::string directorPhone;
  std::string directorEmail;
  if (const JsonValue* current = record->Member("current_director")) {
    directorEmail = MemberText(current, "email");
    if (MemberText(current, "phone") != kNotGiven) directorPhone = MemberText(current, "eo_phone");
  }
  const JsonValue* area = record->Member("area");
  const std::string district = area != nullptr ? MemberText(area, "name_short") : std::string();

  std::string row = "\"";
  row.reserve(512);
  row += EscapeQuotes(title);
  AppendCell(row, "\";\"", fullTitle);
  AppendCell(row, "\";\"", TrimValue(district));
  AppendCell(row, "\";\"", TrimValue(addressText));
  AppendCell(row, "\";\" ", TrimValue(phones));
  AppendCell(row, "\";\"", TrimValue(MemberText(record, "email")));
  AppendCell(row, "\";\"", TrimValue(MemberText(record, "website")));
  AppendCell(row, "\";\"", TrimValue(director));
  AppendCell(row, "\";\" ", TrimValue(directorPhone));
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
