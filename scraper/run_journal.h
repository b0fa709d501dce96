#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_creation.h"
#include "platform/tick_count.h"
#include "scraper/url_queue.h"

namespace orgkat {

// The journal of a run, "<result file>.journal" beside its result file: plain text, one entry a
// line, each line its fields separated by one space, then one space and the CRC-32 of what comes
// before it in eight lower-case hexadecimal digits, then LF. Bytes up to 0x20, DEL and '%' inside
// a field are written as '%' and two upper-case hexadecimal digits, so a URL is always one field.
//
//   orgkat-journal 1 <result file name> <result file size after its header line>
//   list <list URL>
//   found <record URL>            one per record URL found, in the order found
//   found-end <number of record URLs>
// then, as the run goes, one line per record consumed or per continuation:
//   row <result file size after the row> <record URL>
//   failed <record URL>           failed after its last attempt
//   no-record <record URL>        the body held no organisation record
//   skipped <record URL>          no record again in a continued run: left out
//   continue <records remaining> <result file size it was cut back to>
//
// Records are named by URL: equal URLs name the same record, and each row written counts for one
// of them.

// What a continued run needs, checked against its result file.
struct ContinuationPlan {
  std::string CsvPath;
  std::uint64_t CsvKeep = 0;      // the result file is cut back to this size (its last whole row)
  std::uint64_t JournalKeep = 0;  // the journal is cut back to its last intact line
  std::size_t FoundCount = 0;
  std::vector<std::string> Remaining;  // found but neither written nor skipped, in the order found
  // Records whose body held no record before: if it holds none again, they are skipped.
  std::set<std::string> RetryOnce;
};

// A plan, or the reason why the journal cannot continue the run.
struct ContinuationCheck {
  std::optional<ContinuationPlan> Plan;
  std::string Problem;
};

// A journal read against its result file: what the run found and which rows the file holds.
struct JournalRow {
  std::string Url;
  std::uint64_t Begin = 0;  // the row's bytes in the result file, its line break included
  std::uint64_t End = 0;
};
struct JournalContent {
  std::string ListUrl;
  std::uint64_t HeaderEnd = 0;   // the result file's size after its header line
  std::uint64_t IntactSize = 0;  // the journal's size up to its last intact line
  std::vector<std::string> Found;
  std::vector<JournalRow> Rows;  // in the order of the file, one after the other
  std::map<std::string, std::size_t> Skipped;
  std::set<std::string> NoRecord;
  // Records that failed or held no record since the run began or last continued. A continuation
  // tries those of earlier sessions again, so only the last session's outcomes end a record.
  std::map<std::string, std::size_t> EndedUnwritten;
};
struct JournalReading {
  std::optional<JournalContent> Content;
  std::string Problem;
};

// Reads a journal's text against the result file's name and content, with the checks below.
JournalReading ReadJournal(const std::string& csvPath, std::string_view csv,
                           std::string_view journal);
// The records found but neither written nor skipped, in the order found.
std::vector<std::string> UnwrittenRecords(const JournalContent& content);
// The run reached its end: every record found has its row, was skipped, or failed or held no
// record in the last session. A run stopped, killed or cut short by a lost cache has records
// that none of these covers.
bool RunComplete(const JournalContent& content);

// Checks a journal's text against the result file's name and content. A damaged last line (cut
// short or with a wrong checksum) is ignored; any other damage, another file's name or a row end
// that is not a line end in the result file is a mismatch. Rows the journal has and the file
// lacks (lost with the system's cache) count as not written.
ContinuationCheck PlanContinuation(const std::string& csvPath, std::string_view csv,
                                   std::string_view journal);

// Reads the result file at csvPath (a full path) and its journal, then checks them as above.
ContinuationCheck LoadContinuation(const std::string& csvPath);

std::string JournalPathOf(const std::string& csvPath);

// Writes the journal of one run. Every entry is one write to the system; the journal is forced
// to the storage device when at least SyncIntervalMs have passed since it last was, at the start
// of each run and at its end. Throws std::runtime_error when the journal cannot be written.
class TRunJournal {
 public:
  static constexpr std::uint32_t kSyncIntervalMs = 2000;

  // A new run: makes the journal of the result file at csvPath and writes its head, the record
  // URLs still queued in `found`. `ticks` times the forced writes.
  void Begin(std::shared_ptr<ITickCounter> ticks, const std::string& csvPath,
             std::uint64_t csvHeaderEnd, const std::string& listUrl, const TUrlQueue& found);
  // A continued run: cuts the result file and the journal back as the plan says and notes the
  // continuation. The result file must not be open.
  void Resume(std::shared_ptr<ITickCounter> ticks, const ContinuationPlan& plan);
  void RowWritten(const std::string& url, std::uint64_t csvEnd);
  void Failed(const std::string& url);
  // Notes a body without record; true when the record is to be skipped (it held none before).
  bool NoRecord(const std::string& url);
  // Forces the journal to the device and closes it; does nothing when it is not open.
  void Close();

 private:
  void Append(std::string_view entry, bool syncNow);

  std::shared_ptr<ITickCounter> ticks_;
  OutputFile file_;
  std::string path_;
  std::set<std::string> retry_once_;
  std::uint32_t last_sync_ = 0;
};

}  // namespace orgkat
