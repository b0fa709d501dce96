#include "scraper/result_file.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/code_page.h"

namespace orgkat {

namespace {

constexpr std::string_view kHeader =
    "\"Название\";\"Полное название\";\"Округ\";\"Адрес\";\"Телефон\";\"E-mail\";\"Сайт\";"
    "\"Руководитель\";\"Телефон руководителя\";\"Email руководителя\"";

std::string FilePath(const std::string& dir, std::int32_t number) {
  return dir + "data" + std::to_string(number) + ".csv";
}

}  // namespace

TResultFile::~TResultFile() {
  Release();
}

void TResultFile::OpenResultFile(const std::string& dir, std::uint32_t ticks, const LogSink& log) {
  Release();
  const char separator = PathSeparator();
  const std::string base = dir.empty() || dir.back() == separator ? dir : dir + separator;
  // The name is announced before the file is made, so look for the first free one now; an
  // error other than "no such file" is left for the creation to report.
  auto number = static_cast<std::int32_t>(ticks);
  while (PathTaken(FilePath(base, number))) {
    number = static_cast<std::int32_t>(static_cast<std::uint32_t>(number) + 1u);
  }
  const std::string announced = FilePath(base, number);
  if (log) log("Данные будут записываться в файл " + announced);
  OutputFile created = CreateNumberedFile(base, "data", number, ".csv");
  // Another process took the announced name in between: the log must name the real file.
  if (created.Path() != announced && log) {
    log("Данные будут записываться в файл " + created.Path());
  }
  Attach(std::move(created));
  // The byte-order mark reaches the file at once, as its own write.
  Write(kUtf8ByteOrderMark);
  Write(kHeader);
  WriteLineBreak();
}

void TResultFile::Attach(OutputFile file, std::optional<std::uint64_t> size) {
  Release();
  file_ = std::move(file);
  path_ = file_.Path();
  fill_ = 0;
  // A file opened for appending reports position 0 until its first write, so its owner names the
  // size.
  row_end_ = size ? size : file_.WritePosition();
  size_ = row_end_.value_or(0);
}

void TResultFile::Write(std::string_view text) {
  while (!text.empty()) {
    const std::size_t part = std::min(text.size(), sizeof buffer_ - fill_);
    std::memcpy(buffer_ + fill_, text.data(), part);
    fill_ += part;
    text.remove_prefix(part);
    if (fill_ == sizeof buffer_) Flush();
  }
  Flush();
}

void TResultFile::WriteLineBreak() {
  Write("\r\n");
  if (row_end_) row_end_ = size_;
}

void TResultFile::CloseResultFile() {
  if (!file_.IsOpen()) return;
  // Every write operation empties the buffer, so nothing is left here unless one failed; that
  // failure has been reported already and its bytes are dropped.
  fill_ = 0;
  file_.CloseChecked();
}

void TResultFile::Release() {
  fill_ = 0;
  file_.Close();
}

void TResultFile::Flush() {
  if (fill_ == 0) return;
  const std::size_t size = fill_;
  // Emptied first: after a failed write the same bytes are not sent again.
  fill_ = 0;
  try {
    file_.WriteAll(buffer_, size);
  } catch (...) {
    // Whatever part of the row reached the file is taken back; the failure is still reported.
    if (row_end_) {
      if (file_.CutBack(*row_end_)) {
        size_ = *row_end_;
      } else {
        row_end_.reset();  // how much of the row reached the file is unknown
      }
    }
    throw;
  }
  size_ += size;
}

}  // namespace orgkat
