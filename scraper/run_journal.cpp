#include "scraper/run_journal.h"

#include <charconv>
#include <cstdio>
#include <map>

#include "platform/checksum.h"
#include "platform/code_page.h"
#include "platform/file_reading.h"
#include "platform/percent_encoding.h"

namespace orgkat {

namespace {

constexpr std::string_view kMagic = "orgkat-journal";
constexpr std::string_view kVersion = "1";
constexpr std::size_t kChecksumDigits = 8;

bool NeedsEscape(unsigned char c) {
  return c <= 0x20 || c == 0x7F || c == '%';
}

std::string Escaped(std::string_view field) {
  return PercentEncode(field, NeedsEscape);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> Unescaped(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      out += field[i];
      continue;
    }
    if (i + 2 >= field.size()) return std::nullopt;
    const int high = HexValue(field[i + 1]);
    const int low = HexValue(field[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

std::string ChecksumText(std::string_view body) {
  char digits[kChecksumDigits + 1];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(Crc32(body)));
  return std::string(digits, kChecksumDigits);
}

// The line of an entry: its text, a space, its checksum and LF.
std::string Line(std::string_view entry) {
  std::string line(entry);
  line += ' ';
  line += ChecksumText(entry);
  line += '\n';
  return line;
}

std::optional<std::uint64_t> Number(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::vector<std::string_view> Fields(std::string_view entry) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    const auto space = entry.find(' ', start);
    fields.push_back(entry.substr(start, space - start));
    if (space == std::string_view::npos) return fields;
    start = space + 1;
  }
}

// Windows paths separate with a backslash as well as '/'; journals written before that was known
// hold a Windows path whole, and are still read by the name at its end.
std::string FileName(const std::string& path) {
  const auto slash = path.find_last_of(PathSeparator() == '/' ? "/" : "/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsLineEnd(std::string_view csv, std::uint64_t end) {
  return end >= 2 && end <= csv.size() && csv[end - 2] == '\r' && csv[end - 1] == '\n';
}

// The journal's entries after the checks of their lines.
struct Entries {
  std::vector<std::string_view> Texts;
  std::size_t IntactSize = 0;
};

std::optional<Entries> IntactEntries(std::string_view journal, std::string& problem) {
  Entries entries;
  std::size_t start = 0;
  std::size_t number = 0;
  while (start < journal.size()) {
    ++number;
    const auto newline = journal.find('\n', start);
    // A line without its LF was cut short: only the last line can be.
    if (newline == std::string_view::npos) break;
    const std::string_view line = journal.substr(start, newline - start);
    const bool intact = line.size() > kChecksumDigits &&
                        line[line.size() - kChecksumDigits - 1] == ' ' &&
                        line.substr(line.size() - kChecksumDigits) ==
                            ChecksumText(line.substr(0, line.size() - kChecksumDigits - 1));
    if (!intact) {
      if (newline + 1 == journal.size()) break;
      problem = "line " + std::to_string(number) + " of the journal is damaged";
      return std::nullopt;
    }
    entries.Texts.push_back(line.substr(0, line.size() - kChecksumDigits - 1));
    start = newline + 1;
    entries.IntactSize = start;
  }
  return entries;
}

}  // namespace

std::string JournalPathOf(const std::string& csvPath) {
  return csvPath + ".journal";
}

namespace {

// Reads the entries after the head line one by one into the content; the first problem ends it.
class EntryReader {
 public:
  explicit EntryReader(JournalContent& content) : content_(content) {}

  // Empty when the entry is sound.
  std::string Take(std::string_view entry, std::size_t index) {
    const auto fields = Fields(entry);
    const std::string where = "line " + std::to_string(index) + " of the journal";
    const auto kind = fields[0];
    if (kind == "found-end") {
      const auto count = fields.size() == 2 ? Number(fields[1]) : std::nullopt;
      if (found_ended_ || !count || *count != content_.Found.size()) return where + " is malformed";
      found_ended_ = true;
      return {};
    }
    if (kind == "continue") return Continued(fields, where);
    auto url = fields.size() >= 2 ? Unescaped(fields.back()) : std::nullopt;
    if (!url) return where + " is malformed";
    if (kind == "list" && fields.size() == 2 && index == 2) {
      content_.ListUrl = std::move(*url);
      return {};
    }
    if (kind == "found" && fields.size() == 2 && !found_ended_) {
      content_.Found.push_back(std::move(*url));
      return {};
    }
    if (!found_ended_) return where + " comes before the end of the records found";
    return Outcome(kind, fields, std::move(*url), where);
  }

  bool FoundEnded() const { return found_ended_; }

 private:
  std::uint64_t LastEnd() const {
    return content_.Rows.empty() ? content_.HeaderEnd : content_.Rows.back().End;
  }

  std::string Continued(const std::vector<std::string_view>& fields, const std::string& where) {
    const bool wellFormed = fields.size() == 3 && Number(fields[1]) && Number(fields[2]);
    const std::uint64_t keep = wellFormed ? Number(fields[2]).value_or(0) : 0;
    if (!found_ended_ || !wellFormed || keep < content_.HeaderEnd) return where + " is malformed";
    // The continued run cut the result file back to `keep`: rows past it were never there.
    auto& rows = content_.Rows;
    while (!rows.empty() && rows.back().End > keep) rows.pop_back();
    if (LastEnd() != keep) return where + " does not follow the rows before it";
    content_.EndedUnwritten.clear();
    return {};
  }

  std::string Outcome(std::string_view kind, const std::vector<std::string_view>& fields,
                      std::string url, const std::string& where) {
    if (kind == "row" && fields.size() == 3) {
      const auto end = Number(fields[1]);
      if (!end || *end <= LastEnd()) return where + " is malformed";
      content_.Rows.push_back({std::move(url), LastEnd(), *end});
    } else if (kind == "skipped" && fields.size() == 2) {
      ++content_.Skipped[url];
    } else if (kind == "no-record" && fields.size() == 2) {
      ++content_.EndedUnwritten[url];
      content_.NoRecord.insert(std::move(url));
    } else if (kind == "failed" && fields.size() == 2) {
      ++content_.EndedUnwritten[url];
    } else {
      return where + " is malformed";
    }
    return {};
  }

  JournalContent& content_;
  bool found_ended_ = false;
};

// The head line: the result file's name and the end of its header.
std::string HeadProblem(const std::string& csvPath, std::string_view csv, std::string_view entry,
                        JournalContent& content) {
  const auto fields = Fields(entry);
  if (fields.size() != 4 || fields[0] != kMagic) return "not a journal of orgkat";
  if (fields[1] != kVersion) return "a journal of another version";
  const auto name = Unescaped(fields[2]);
  const auto end = Number(fields[3]);
  if (!name || !end) return "line 1 of the journal is malformed";
  if (FileName(*name) != FileName(csvPath)) return "the journal belongs to " + *name;
  if (!csv.starts_with(kUtf8ByteOrderMark) || !IsLineEnd(csv, *end)) {
    return "the result file does not begin with the header the journal names";
  }
  content.HeaderEnd = *end;
  return {};
}

}  // namespace

JournalReading ReadJournal(const std::string& csvPath, std::string_view csv,
                           std::string_view journal) {
  JournalReading reading;
  const auto entries = IntactEntries(journal, reading.Problem);
  if (!entries) return reading;
  JournalContent content;
  content.IntactSize = entries->IntactSize;
  EntryReader reader(content);
  for (std::size_t index = 1; index <= entries->Texts.size(); ++index) {
    const auto entry = entries->Texts[index - 1];
    reading.Problem =
        index == 1 ? HeadProblem(csvPath, csv, entry, content) : reader.Take(entry, index);
    if (!reading.Problem.empty()) return reading;
  }
  if (!reader.FoundEnded()) {
    reading.Problem = "the journal ends before the list of records found";
    return reading;
  }
  // Rows past the file's end were lost with the system's cache: they count as not written.
  auto& rows = content.Rows;
  while (!rows.empty() && rows.back().End > csv.size()) rows.pop_back();
  for (const auto& row : rows) {
    if (!IsLineEnd(csv, row.End)) {
      reading.Problem = "the result file holds no row end at byte " + std::to_string(row.End) +
                        " where the journal has one";
      return reading;
    }
  }
  reading.Content = std::move(content);
  return reading;
}

std::vector<std::string> UnwrittenRecords(const JournalContent& content) {
  std::map<std::string_view, std::size_t> written;
  for (const auto& row : content.Rows) ++written[row.Url];
  auto skipped = content.Skipped;
  std::vector<std::string> unwritten;
  for (const auto& url : content.Found) {
    if (auto it = written.find(url); it != written.end() && it->second > 0) {
      --it->second;
    } else if (auto skip = skipped.find(url); skip != skipped.end() && skip->second > 0) {
      --skip->second;
    } else {
      unwritten.push_back(url);
    }
  }
  return unwritten;
}

bool RunComplete(const JournalContent& content) {
  auto ended = content.EndedUnwritten;
  for (const auto& url : UnwrittenRecords(content)) {
    const auto it = ended.find(url);
    if (it == ended.end() || it->second == 0) return false;
    --it->second;
  }
  return true;
}

ContinuationCheck PlanContinuation(const std::string& csvPath, std::string_view csv,
                                   std::string_view journal) {
  ContinuationCheck check;
  auto reading = ReadJournal(csvPath, csv, journal);
  if (!reading.Content) {
    check.Problem = std::move(reading.Problem);
    return check;
  }
  JournalContent& content = *reading.Content;
  ContinuationPlan plan;
  plan.CsvPath = csvPath;
  plan.JournalKeep = content.IntactSize;
  plan.CsvKeep = content.Rows.empty() ? content.HeaderEnd : content.Rows.back().End;
  plan.FoundCount = content.Found.size();
  plan.Remaining = UnwrittenRecords(content);
  plan.RetryOnce = std::move(content.NoRecord);
  check.Plan = std::move(plan);
  return check;
}

ContinuationCheck LoadContinuation(const std::string& csvPath) {
  ContinuationCheck check;
  try {
    const auto csv = ReadFileIfExists(csvPath);
    if (!csv) {
      check.Problem = "no such file";
      return check;
    }
    const auto journal = ReadFileIfExists(JournalPathOf(csvPath));
    if (!journal) {
      check.Problem = "the file has no journal (" + JournalPathOf(csvPath) + ")";
      return check;
    }
    check = PlanContinuation(csvPath, *csv, *journal);
  } catch (const std::exception& e) {
    check.Problem = e.what();
  }
  return check;
}

void TRunJournal::Begin(std::shared_ptr<ITickCounter> ticks, const std::string& csvPath,
                        std::uint64_t csvHeaderEnd, const std::string& listUrl,
                        const TUrlQueue& found) {
  ticks_ = std::move(ticks);
  path_ = JournalPathOf(csvPath);
  file_ = CreateForAppend(path_);
  retry_once_.clear();
  // The head is written in pieces of bounded size, so a long list never sits in memory twice; a
  // head cut short has no "found-end" line and does not check.
  constexpr std::size_t kPiece = 1 << 20;
  std::string head = Line(std::string(kMagic) + ' ' + std::string(kVersion) + ' ' +
                          Escaped(FileName(csvPath)) + ' ' + std::to_string(csvHeaderEnd));
  head += Line("list " + Escaped(listUrl));
  std::size_t count = 0;
  found.ForEach([&](const std::string& url) {
    head += Line("found " + Escaped(url));
    ++count;
    if (head.size() >= kPiece) {
      file_.WriteAll(head.data(), head.size());
      head.clear();
    }
  });
  head += Line("found-end " + std::to_string(count));
  file_.WriteAll(head.data(), head.size());
  file_.Sync();
  last_sync_ = ticks_->Now();
}

void TRunJournal::Resume(std::shared_ptr<ITickCounter> ticks, const ContinuationPlan& plan) {
  ticks_ = std::move(ticks);
  path_ = JournalPathOf(plan.CsvPath);
  // The journal first: a kill between the two cuts leaves a pair that still checks.
  TruncateFile(path_, plan.JournalKeep);
  TruncateFile(plan.CsvPath, plan.CsvKeep);
  file_ = OpenForAppend(path_);
  retry_once_ = plan.RetryOnce;
  Append("continue " + std::to_string(plan.Remaining.size()) + ' ' + std::to_string(plan.CsvKeep),
         true);
}

void TRunJournal::RowWritten(const std::string& url, std::uint64_t csvEnd) {
  Append("row " + std::to_string(csvEnd) + ' ' + Escaped(url), false);
}

void TRunJournal::Failed(const std::string& url) {
  Append("failed " + Escaped(url), false);
}

bool TRunJournal::NoRecord(const std::string& url) {
  const bool skip = retry_once_.count(url) > 0;
  Append((skip ? "skipped " : "no-record ") + Escaped(url), !skip);
  return skip;
}

void TRunJournal::Close() {
  if (!file_.IsOpen()) return;
  file_.Sync();
  file_.Close();
}

void TRunJournal::Append(std::string_view entry, bool syncNow) {
  if (!file_.IsOpen()) return;
  const std::string line = Line(entry);
  file_.WriteAll(line.data(), line.size());
  const std::uint32_t now = ticks_->Now();
  if (syncNow || now - last_sync_ >= kSyncIntervalMs) {
    file_.Sync();
    last_sync_ = now;
  }
}

}  // namespace orgkat
