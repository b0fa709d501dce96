#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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
  // The write position; empty when the file has none (a pipe, a socket).
  std::optional<std::uint64_t> WritePosition() const;
  // Cuts the file back to `size` bytes and moves the write position there. False when that cannot
  // be done (a device, a socket).
  bool CutBack(std::uint64_t size);
  // Forces what was written onto the storage device. Throws std::runtime_error naming the file.
  void Sync();
  // Closes without checks; does nothing when not open.
  void Close();
  // Closes the file. Throws std::runtime_error naming the file when it has lost its last name (it,
  // or its directory, was removed, so what was written is gone) or when the system reports a
  // failure while closing it; the file is closed in every case.
  void CloseChecked();

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

// One exclusive creation, the system's half of CreateNumberedFile: the file open for writing (and
// for others to read), or the system's error text and whether the name was taken already.
struct NewFileAttempt {
  OutputFile file;
  bool name_taken = false;
  std::string error_text;
};
NewFileAttempt CreateNewFile(const std::string& path);

// Opens a file for appending: made empty (CreateForAppend; an existing file is emptied) or as it
// is (OpenForAppend; it must exist). Others may read it meanwhile. Throws std::runtime_error
// naming the file and the system's error text.
OutputFile CreateForAppend(const std::string& path);
OutputFile OpenForAppend(const std::string& path);

// Cuts the file at `path` back to `size` bytes. Throws std::runtime_error naming the file.
void TruncateFile(const std::string& path, std::uint64_t size);

// True when something of that name exists (a dangling link counts).
bool PathTaken(const std::string& path);

// The platform's path separator, which ends every directory name the program hands around.
char PathSeparator();

// The write position of fd; empty when the descriptor has none (a pipe, a socket).
std::optional<std::uint64_t> WritePosition(int fd);

// Cuts the file back to `size` bytes and moves the write position there. False when that cannot be
// done (a device, a socket).
bool CutBack(int fd, std::uint64_t size);

// Closes fd. Throws std::runtime_error naming `path` when the file has lost its last name (it, or
// its directory, was removed, so what was written is gone) or when the system reports a failure
// while closing it; the descriptor is closed in every case.
void CloseNamedFile(int fd, const std::string& path);

}  // namespace orgkat
