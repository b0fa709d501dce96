#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_creation.h"
#include "scraper/directory_endpoints.h"

namespace orgkat {

// The result file of a run: "data%d.csv", UTF-8 with a byte-order mark, CR LF line breaks.
// Every write operation hands all its bytes to the system before it returns (1024-byte buffer,
// flushed at the end of each operation); a write the system does not carry out in full throws,
// after cutting the file back to the end of its last line break, so the file holds whole rows
// only (a disk that filled up mid-row leaves no half row behind).
class TResultFile {
 public:
  TResultFile() = default;
  ~TResultFile();
  TResultFile(const TResultFile&) = delete;
  TResultFile& operator=(const TResultFile&) = delete;

  // Names the file from the tick count (stepping the number up while the name is taken), announces
  // it through log ("Данные будут записываться в файл " + full path), creates it exclusively and
  // writes the byte-order mark and the header line. Throws std::runtime_error with the text
  // Cannot create file "<path>". <system text> when it cannot be created.
  void OpenResultFile(const std::string& dir, std::uint32_t ticks, const LogSink& log);
  // Takes over an open file (closing any file open before, without checks); later writes go to it
  // and failures name its path. Lets the writer run on any file, such as a device; one that cannot
  // be cut back keeps whatever part of a failed write reached it. `size`: the bytes the file
  // already holds, all whole rows (writes append); else its write position.
  void Attach(OutputFile file, std::optional<std::uint64_t> size = std::nullopt);
  // One write operation of the writer.
  void Write(std::string_view text);
  // The line break, CR LF (a write operation of its own); it completes a row.
  void WriteLineBreak();
  // Closes the file; does nothing when not open. Throws std::runtime_error naming the file when it
  // was removed while open (with its directory, say: every row is lost) or the system fails to
  // close it; the file is closed all the same.
  void CloseResultFile();

  bool IsOpen() const { return file_.IsOpen(); }
  // Full path of the file; empty before OpenResultFile.
  const std::string& Path() const { return path_; }
  // Bytes the file holds: those it had when attached and those the system took since.
  std::uint64_t Size() const { return size_; }

 private:
  void Flush();
  void Release();

  OutputFile file_;
  // Bytes in the file, and where its last complete row ends; no row end when it cannot be cut.
  std::uint64_t size_ = 0;
  std::optional<std::uint64_t> row_end_;
  std::string path_;
  char buffer_[1024];
  std::size_t fill_ = 0;
};

}  // namespace orgkat
