// The result file on POSIX devices and limits: write boundaries, a full device, a size limit.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file_creation.h"
#include "scraper/record_row.h"
#include "scraper/result_file.h"
#include "tests/temp_dir.h"

namespace orgkat {
namespace {

using ::testing::HasSubstr;

const std::string kHeaderLine =
    "\xEF\xBB\xBF\"Название\";\"Полное название\";\"Округ\";\"Адрес\";\"Телефон\";\"E-mail\";"
    "\"Сайт\";\"Руководитель\";\"Телефон руководителя\";\"Email руководителя\"\r\n";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ResultFileOnPosixTest : public ::testing::Test {
 protected:
  LogSink Log() {
    return [this](const std::string& line) { log_.push_back(line); };
  }

  TempDir temp_{"orgkat-text"};
  const std::string dir_ = temp_.Path();
  std::vector<std::string> log_;
};

TEST_F(ResultFileOnPosixTest, CreatedFilesAreClosedOnExecAndReadableByOthers) {
  const OutputFile created = CreateNumberedFile(dir_, "log-", 1, ".txt");
  const int fd = static_cast<int>(created.NativeHandle());
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  struct stat info {};
  ASSERT_EQ(stat(created.Path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777 & ~0022u, 0644u & ~0022u);
}

TEST_F(ResultFileOnPosixTest, EachWriteOperationReachesTheSystemInPiecesOfAtMost1024Bytes) {
  // A packet socket keeps the boundaries of every write call the file makes.
  int sockets[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets), 0);
  TResultFile file;
  file.Attach(OutputFile(sockets[0], "packets"));
  file.Write(std::string(2500, 'r'));
  file.WriteLineBreak();
  file.Write("");
  file.Write(std::string(1024, 's'));
  file.CloseResultFile();

  std::vector<std::size_t> sizes;
  char packet[4096];
  for (ssize_t got; (got = recv(sockets[1], packet, sizeof packet, 0)) > 0;) {
    sizes.push_back(static_cast<std::size_t>(got));
  }
  close(sockets[1]);
  EXPECT_EQ(sizes, (std::vector<std::size_t>{1024, 1024, 452, 2, 1024}));
}

TEST_F(ResultFileOnPosixTest, AWriteToAFullDeviceFailsNamingTheFileAndTheError) {
  const int fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  TResultFile file;
  file.Attach(OutputFile(fd, "/dev/full"));
  std::string lastDirector;
  try {
    WriteRecordRow(R"({"list": {"title": "lost?"}})", file, lastDirector);
    FAIL() << "a write to a full device went unnoticed";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Cannot write to file \"/dev/full\". No space left on device");
  }
  EXPECT_THROW(file.Write(std::string(5000, 'x')), std::runtime_error);
}

// A file size limit makes the system take part of a write and refuse the rest, as a disk that
// fills up does.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous_);
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit small = saved_;
    small.rlim_cur = bytes;
    set_ = setrlimit(RLIMIT_FSIZE, &small) == 0;
  }
  ~FileSizeLimit() { Lift(); }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool Set() const { return set_; }
  void Lift() {
    if (!set_) return;
    setrlimit(RLIMIT_FSIZE, &saved_);
    sigaction(SIGXFSZ, &previous_, nullptr);
    set_ = false;
  }

 private:
  struct sigaction previous_ {};
  rlimit saved_{};
  bool set_ = false;
};

TEST_F(ResultFileOnPosixTest, AWriteThatTheSystemTakesOnlyInPartFailsAndTakesBackItsPart) {
  TResultFile file;
  std::string message;
  {
    FileSizeLimit limit(1500);
    ASSERT_TRUE(limit.Set());
    try {
      file.OpenResultFile(dir_, 9, Log());
      file.Write(std::string(3000, 'x'));
    } catch (const std::runtime_error& error) {
      message = error.what();
    }
  }
  EXPECT_THAT(message, HasSubstr("Cannot write to file \"" + dir_ + "data9.csv\". "));
  EXPECT_EQ(ReadAll(dir_ + "data9.csv"), kHeaderLine);
}

TEST_F(ResultFileOnPosixTest, AFullDiskLeavesTheHeaderAndWholeRowsOnly) {
  const std::string row = R"("Школа";"";"";"";" ";"";"";"";" ";"")"
                          "\r\n";
  struct Case {
    const char* what;
    std::string title;  // of the row that meets the limit
    rlim_t limit;
  };
  const std::string longTitle(2500, 'y');
  const Case cases[] = {
      {"the row itself is cut short", "Школа", kHeaderLine.size() + 2 * row.size() + 10},
      {"a row longer than the buffer is cut in its second piece", longTitle,
       kHeaderLine.size() + row.size() + 1500},
      {"the row is written but its line break is not", "Школа",
       kHeaderLine.size() + 2 * row.size() + row.size() - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir_ + "data1.csv";
    std::filesystem::remove(path);
    TResultFile file;
    std::string lastDirector;
    bool failed = false;
    {
      FileSizeLimit limit(c.limit);
      ASSERT_TRUE(limit.Set());
      file.OpenResultFile(dir_, 1, Log());
      WriteRecordRow(R"({"list": {"title": "Школа"}})", file, lastDirector);
      WriteRecordRow(R"({"list": {"title": "Школа"}})", file, lastDirector);
      try {
        WriteRecordRow(R"({"list": {"title": ")" + c.title + "\"}}", file, lastDirector);
      } catch (const std::runtime_error&) {
        failed = true;
      }
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(ReadAll(path), kHeaderLine + row + row);
    // The next row follows the last whole one, with no gap.
    WriteRecordRow(R"({"list": {"title": "Школа"}})", file, lastDirector);
    file.CloseResultFile();
    EXPECT_EQ(ReadAll(path), kHeaderLine + row + row + row);
  }
}

TEST_F(ResultFileOnPosixTest, ClosingAFileRemovedWithItsDirectoryFailsNamingTheFile) {
  const std::string dir = dir_ + "out/";
  std::filesystem::create_directory(dir);
  TResultFile file;
  file.OpenResultFile(dir, 3, Log());
  std::string lastDirector;
  WriteRecordRow(R"({"list": {"title": "A"}})", file, lastDirector);
  std::filesystem::remove_all(dir);
  try {
    file.CloseResultFile();
    FAIL() << "the lost file went unnoticed";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(),
                 ("File \"" + dir + "data3.csv\" was removed while it was being written").c_str());
  }
  EXPECT_FALSE(file.IsOpen());
  file.CloseResultFile();
}

}  // namespace
}  // namespace orgkat
