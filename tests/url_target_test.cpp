#include "platform/url_target.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>

namespace orgkat {
namespace {

TEST(UrlTargetTest, SplitsHostPortAndPath) {
  const UrlParts https = SplitUrl("https://api.test/api/x.json?q=1");
  EXPECT_EQ(https.scheme, "https");
  EXPECT_EQ(https.host, "api.test");
  EXPECT_EQ(https.port, "443");
  EXPECT_FALSE(https.explicit_port);
  EXPECT_EQ(https.path, "/api/x.json?q=1");
  EXPECT_EQ(HostLineValue(https), "api.test");

  const UrlParts plain = SplitUrl("http://h:8080");
  EXPECT_EQ(plain.port, "8080");
  EXPECT_EQ(plain.path, "/");
  EXPECT_EQ(HostLineValue(plain), "h:8080");
  EXPECT_EQ(AbsoluteUrl(plain), "http://h:8080/");
}

TEST(UrlTargetTest, APortIsDecimalDigitsUpTo65535) {
  const std::pair<const char*, std::optional<std::uint16_t>> cases[] = {
      {"443", 443}, {"0", 0},      {"65535", 65535},   {"065535", 65535}, {"65536", {}},
      {"", {}},     {"+80", {}},   {"-1", {}},         {"80 ", {}},       {"8o", {}},
      {"0x50", {}}, {"99999", {}}, {"4294967376", {}},
  };
  for (const auto& [text, number] : cases) EXPECT_EQ(PortNumber(text), number) << text;
}

TEST(UrlTargetTest, LocationsAreResolvedAgainstTheCurrentUrl) {
  const UrlParts base = SplitUrl("https://h:444/a/b/c.json?x=/y");
  EXPECT_EQ(ResolveLocation(base, "/root"), "https://h:444/root");
  EXPECT_EQ(ResolveLocation(base, "d.json"), "https://h:444/a/b/d.json");
  EXPECT_EQ(ResolveLocation(base, "//other/p"), "https://other/p");
  EXPECT_EQ(ResolveLocation(base, "HTTP://x/y"), "HTTP://x/y");
  EXPECT_EQ(ResolveLocation(SplitUrl("http://h"), "p"), "http://h/p");
}

TEST(UrlTargetTest, OnlyBytesThatCouldBreakTheRequestLineAreEncoded) {
  EXPECT_EQ(EncodeRequestTarget("/a b\r\n%41?q=\"x\"&y=1#f"), "/a%20b%0D%0A%41?q=\"x\"&y=1%23f");
  EXPECT_EQ(EncodeRequestTarget("/api/eduoffices/1#2.json"), "/api/eduoffices/1%232.json");
  EXPECT_EQ(EncodeRequestTarget("/\x7f\x80\xff"), "/%7F%80%FF");
}

}  // namespace
}  // namespace orgkat
