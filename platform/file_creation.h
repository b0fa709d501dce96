#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orgkat {

// A file open for writing, closed when the object goes.
class OutputFile {
 public:
  // The system's handle of an open file: a descriptor on POSIX, a HANDLE on Windows; -1 is none.
  using Native = std::intptr_t;

  OutputFile() = default;
  // Takes over an open handle; failures name `path`.
  OutputFile(Native native, std::string path) : native_(native), path_(std::move(path)) {}
  ~OutputFile() { Close(); }
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool IsOpen() const { return native_ != -1; }
  const std::string& Path() const { return path_; }
  // For the system calls this class does not make itself.
  Native NativeHandle() const { return native_; }

  // Writes all of data, continuing after partial writes. Throws std::runtime_error with the text
  // Cannot write to file "<path>". <system error text>
  // when the system does not take every byte (disk full, ...).
  void WriteAll(const char* data, std::size_t size);
  void Close();

 private:
  Native native_ = -1;
  std::string path_;
};

// A file created exclusively under a numbered name: dir + prefix + number + suffix, where the
// number starts at `number` (a signed 32-bit value, so names like "data-1.csv" occur) and is
// stepped up by one while the name is taken. An existing file is never replaced. While the file
// is open others may read it but not write it.
// Throws std::runtime_error with the text: Cannot create file "<path>". <system error text>
// where <path> is the first name tried when creation failed for any reason other than the name
// being taken.
OutputFile CreateNumberedFile(const std::string& dir, const std::string& prefix,
                              std::int32_t number, const std::string& suffix);

// True when something of that name exists (a dangling link counts).
bool PathTaken(const std::string& path);

// The platform's path separator, which ends every directory name the program hands around.
char PathSeparator();

}  // namespace orgkat
