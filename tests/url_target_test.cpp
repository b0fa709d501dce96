#include "platform/url_target.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace orgkat
