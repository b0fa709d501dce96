#include "scraper/proxy_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/temp_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orgkat {
namespace {

std::string Utf16(const std::u16string& text, bool big_endian) {
  std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes += big_endian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

struct ProxyCase {
  const char* what;
  std::string bytes;
  std::optional<std::string> line;
  std::string host;
  std::string port;
};

class ProxyFile : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes) {
    const auto path = dir_ / "proxy.txt";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return Utf8FromPath(path);
  }
  TempDir temp_{"orgkat-proxy"};
  const std::filesystem::path dir_ = temp_.FsPath();
};

TEST_F(ProxyFile, FirstLineSplitsAtTheFirstColon) {
  const std::vector<ProxyCase> cases = {
      {"host and port", "proxy.local:8080\r\n", "proxy.local:8080", "proxy.local", "8080"},
      {"two colons", "proxy.local:80:81\n", "proxy.local:80:81", "proxy.local", "80:81"},
      {"no colon", "proxy.local\n", "proxy.local", "", ""},
      {"leading colon", ":8080\n", ":8080", "", ""},
      {"nothing trimmed", " host : 1 \n", " host : 1 ", " host ", " 1 "},
      {"only the first line", "a:1\nb:2\n", "a:1", "a", "1"},
      {"CR alone ends a line", "a:1\rb:2\r", "a:1", "a", "1"},
      {"no line end at all", "a:1", "a:1", "a", "1"},
      {"empty first line", "\r\nb:2\r\n", "", "", ""},
      {"empty file", "", std::nullopt, "", ""},
      {"UTF-8 mark", "\xEF\xBB\xBFпрокси.рф:3128\n", "прокси.рф:3128", "прокси.рф", "3128"},
      {"UTF-16 LE mark", Utf16(u"прокси:3128\r\nx:1", false), "прокси:3128", "прокси", "3128"},
      {"UTF-16 BE mark", Utf16(u"host:3128\rx:1", true), "host:3128", "host", "3128"},
      {"UTF-16 mark alone", Utf16(u"", false), std::nullopt, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ProxySetting setting = ReadProxyFile(Write(c.bytes));
    EXPECT_EQ(setting.FirstLine, c.line);
    EXPECT_EQ(setting.Host, c.host);
    EXPECT_EQ(setting.Port, c.port);
  }
}

TEST_F(ProxyFile, MissingFileMeansNoProxy) {
  const ProxySetting setting = ReadProxyFile(Utf8FromPath(dir_ / "absent.txt"));
  EXPECT_FALSE(setting.FirstLine.has_value());
  EXPECT_EQ(setting.Host, "");
  EXPECT_FALSE(ReadProxyFile("").FirstLine.has_value());
}

TEST_F(ProxyFile, FileThatCannotBeReadIsAnError) {
  EXPECT_THROW(ReadProxyFile(Utf8FromPath(dir_)), std::runtime_error);
#ifndef _WIN32
  if (geteuid() != 0) {
    const std::string path = Write("a:1\n");
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    EXPECT_THROW(ReadProxyFile(path), std::runtime_error);
  }
#endif
}

TEST(DecodeTextFile, LoneSurrogateBecomesAReplacementCharacter) {
  const std::string bytes = std::string("\xFF\xFE", 2) + std::string(
                                                             "a\0\x00\xD8"
                                                             "b\0",
                                                             6);
  EXPECT_EQ(DecodeTextFile(bytes),
            "a\xEF\xBF\xBD"
            "b");
}

}  // namespace
}  // namespace orgkat
