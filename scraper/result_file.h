#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_creation.h"
#include "scraper/directory_endpoints.h"

namespace orgkat {

// The result file of a run: "data%d.csv", UTF-8 with a byte-order mark, CR LF line breaks.
// Every write operation hands all its bytes to the system before it returns (1024-byte buffer,
// flushed at the end of each operation); a write the system does not carry out in full throws.
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
  // Takes over an open file (closing any file open before); later writes go to it and failures
  // name its path. Lets the writer run on any file, such as a device.
  void Attach(OutputFile file);
  // One write operation of the writer.
  void Write(std::string_view text);
  // The line break, CR LF (a write operation of its own).
  void WriteLineBreak();
  // Writes out what is buffered and closes; does nothing when not open.
  void CloseResultFile();

  bool IsOpen() const { return file_.IsOpen(); }
  // Full path of the file; empty before OpenResultFile.
  const std::string& Path() const { return path_; }

 private:
  void Flush();

  OutputFile file_;
  std::string path_;
  char buffer_[1024];
  std::size_t fill_ = 0;
};

}  // namespace orgkat
