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

TEST_F(ResultFileOnPosixTest, AWriteThatTheSystemTakesOnlyInPartFails) {
  // A file size limit makes the system take part of a write and refuse the rest.
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 1500;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

  TResultFile file;
  bool failed = false;
  std::string message;
  try {
    file.OpenResultFile(dir_, 9, Log());
    file.Write(std::string(3000, 'x'));
  } catch (const std::runtime_error& error) {
    failed = true;
    message = error.what();
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  sigaction(SIGXFSZ, &previous, nullptr);

  EXPECT_TRUE(failed);
  EXPECT_THAT(message, HasSubstr("Cannot write to file \"" + dir_ + "data9.csv\". "));
  EXPECT_EQ(std::filesystem::file_size(dir_ + "data9.csv"), 1500u);
}

}  // namespace
}  // namespace orgkat
