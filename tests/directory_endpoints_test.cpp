#include "scraper/directory_endpoints.h"
#include "scraper/url_queue.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace orgkat {
namespace {

const std::string kHost = "api.test:8443";
const std::string kFffd = "\xEF\xBF\xBD";

std::string Url(const std::string& id) {
  return "https://api.test:8443/api/eduoffices/" + id + ".json";
}

std::vector<std::string> UrlsOf(const RecordIdList& ids) {
  std::vector<std::string> urls;
  for (std::size_t i = 0; i < ids.size(); ++i) urls.push_back(RecordUrl(kHost, ids[i]));
  return urls;
}

std::vector<std::string> Scan(const std::string& text, std::vector<std::string>* log = nullptr) {
  RecordIdList ids;
  ScanRecordUrls(text, ids, [&](const std::string& line) {
    if (log != nullptr) log->push_back(line);
  });
  return UrlsOf(ids);
}

TEST(DirectoryEndpoints, BuildsTheListAndRecordUrlsOnTheConfiguredHost) {
  EXPECT_EQ(ListUrl("api.test:8443"),
            "https://api.test:8443/api/eduoffices/sphinx.json?area=&by_legal=1&district=&"
            "is_active=1&limit=5000&metro=&orgkat_special_order=1&page=1&program=&search=");
  EXPECT_EQ(RecordUrl("api.test", " \"x y\"}]"), "https://api.test/api/eduoffices/ \"x y\"}].json");
}

struct ScanRow {
  const char* says;
  std::string text;
  std::vector<std::string> ids;
};

class ScanTable : public ::testing::TestWithParam<ScanRow> {};

TEST_P(ScanTable, FindsTheIdentifiers) {
  const ScanRow& row = GetParam();
  std::vector<std::string> expected;
  for (const auto& id : row.ids) expected.push_back(Url(id));
  EXPECT_EQ(Scan(row.text), expected) << row.says;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ScanTable,
    ::testing::Values(
        ScanRow{
            "digits followed by a comma are the identifier", R"({"eo_id":1234,"x":1})", {"1234"}},
        ScanRow{
            "a space after the colon stays in the identifier", R"({"eo_id": 77,"x":1})", {" 77"}},
        ScanRow{
            "a string value keeps its quotation marks", R"({"eo_id":"abc","x":1})", {"\"abc\""}},
        ScanRow{
            "a comma right after the token gives an empty identifier", R"({"eo_id":,"x":1})", {""}},
        ScanRow{"closing brackets before the next comma belong to the identifier",
                R"([{"eo_id":5}],"n":1)",
                {"5}]"}},
        ScanRow{"the last token without a comma after it yields nothing",
                R"([{"eo_id":1},{"eo_id":2}])",
                {"1}"}},
        ScanRow{"a text without any comma yields nothing", R"({"eo_id":1})", {}},
        ScanRow{"capital letters do not match", R"({"EO_ID":1,"Eo_id":2,})", {}},
        ScanRow{"a space before the colon does not match", R"({"eo_id" :1,})", {}},
        ScanRow{
            "the same identifier twice gives two URLs", R"({"eo_id":9,"eo_id":9,})", {"9", "9"}},
        ScanRow{"a token between the quotes of a string value matches like any other",
                R"({"note":"{"eo_id":42, copied}","eo_id":7,})",
                {"42", "7"}},
        ScanRow{"tokens before one far comma share it",
                R"("eo_id":1 "eo_id":2 x,)",
                {"1 \"eo_id\":2 x", "2 x"}},
        ScanRow{"a token at the very end yields nothing", R"(a,"eo_id":)", {}},
        ScanRow{"an empty text yields nothing", "", {}}));

TEST(DirectoryEndpoints, AppendsToTheFoundIdentifiersAndLogsTheirWholeCount) {
  RecordIdList ids;
  std::vector<std::string> log;
  ScanRecordUrls(R"({"eo_id":0,})", ids, {});
  ScanRecordUrls(R"([{"eo_id":1,"a":0},{"eo_id":2,"a":0}])", ids,
                 [&](const std::string& line) { log.push_back(line); });
  EXPECT_EQ(UrlsOf(ids), (std::vector<std::string>{Url("0"), Url("1"), Url("2")}));
  EXPECT_EQ(log, std::vector<std::string>{"Найдено 3 организаций"});

  log.clear();
  EXPECT_TRUE(Scan("no tokens here", &log).empty());
  EXPECT_EQ(log, std::vector<std::string>{"Найдено 0 организаций"});
}

TEST(DirectoryEndpoints, QueueBuildsEachRecordUrlWhenItIsTaken) {
  RecordIdList ids;
  ScanRecordUrls(R"("eo_id":1 "eo_id":2 x,"eo_id":#3,)", ids, {});
  TUrlQueue queue;
  queue.Assign(ListUrl(kHost));
  EXPECT_EQ(queue.size(), 1u);
  EXPECT_EQ(queue.PopFront(), ListUrl(kHost));
  EXPECT_TRUE(queue.empty());
  queue.Assign(std::move(ids), kHost);
  std::vector<std::string> taken;
  for (std::size_t left = 3; left > 0; --left) {
    EXPECT_EQ(queue.size(), left);
    taken.push_back(queue.PopFront());
  }
  EXPECT_TRUE(queue.empty());
  EXPECT_EQ(taken, (std::vector<std::string>{Url("1 \"eo_id\":2 x"), Url("2 x"), Url("#3")}));
}

// The steps as they are defined: cut the text after each token, take up to the next comma.
std::vector<std::string> ScanByCutting(std::string text) {
  const std::string token = "\"eo_id\":";
  std::vector<std::string> urls;
  for (auto at = text.find(token); at != std::string::npos; at = text.find(token)) {
    text.erase(0, at + token.size());
    const auto comma = text.find(',');
    if (comma != std::string::npos) urls.push_back(Url(text.substr(0, comma)));
  }
  return urls;
}

TEST(DirectoryEndpoints, ForwardScanAgreesWithCuttingTheTextOnRandomLists) {
  const std::vector<std::string> pieces = {
      "\"eo_id\":", ",", "12", " ", "\"", "}", "]", "\"eo_id\" :", "\"EO_ID\":", "eo_id", ":"};
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 30);
    for (int i = 0; i < length; ++i) text += pieces[random() % pieces.size()];
    EXPECT_EQ(Scan(text), ScanByCutting(text)) << text;
  }
}

struct DecodeRow {
  const char* says;
  std::string bytes;
  std::string text;
};

class DecodeTable : public ::testing::TestWithParam<DecodeRow> {};

TEST_P(DecodeTable, ReplacesEachMaximalSubpart) {
  const DecodeRow& row = GetParam();
  EXPECT_EQ(DecodeBody(row.bytes), row.text) << row.says;
}

std::string R(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += kFffd;
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DecodeTable,
    ::testing::Values(
        DecodeRow{"an empty body gives empty text", "", ""},
        DecodeRow{"well-formed text is unchanged", "id: Школа №5 \xF0\x9F\x98\x80 \xE2\x82\xAC",
                  "id: Школа №5 \xF0\x9F\x98\x80 \xE2\x82\xAC"},
        DecodeRow{"a leading byte-order mark stays", "\xEF\xBB\xBF{}", "\xEF\xBB\xBF{}"},
        DecodeRow{"a lone continuation byte is one replacement", "a\x80z", "a" + R(1) + "z"},
        DecodeRow{"each lone continuation byte is replaced", "\x80\xBF\x80", R(3)},
        DecodeRow{"a truncated three-byte sequence at the end is one replacement", "ab\xE2\x82",
                  "ab" + R(1)},
        DecodeRow{"a truncated sequence before ASCII is one replacement",
                  "\xE2\x82"
                  "A",
                  R(1) + "A"},
        DecodeRow{"a two-byte lead before ASCII is one replacement",
                  "\xC2"
                  "A",
                  R(1) + "A"},
        DecodeRow{"an overlong two-byte form is two replacements", "\xC0\xAF", R(2)},
        DecodeRow{"an overlong three-byte form is three replacements", "\xE0\x80\xAF", R(3)},
        DecodeRow{"an overlong four-byte form is four replacements", "\xF0\x80\x80\xAF", R(4)},
        DecodeRow{"an encoded surrogate is three replacements", "\xED\xA0\x80", R(3)},
        DecodeRow{"a code point above U+10FFFF is four replacements", "\xF4\x90\x80\x80", R(4)},
        DecodeRow{"U+10FFFF itself is well-formed", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        DecodeRow{"lead bytes F5 to FF are one replacement each", "\xF5\xF8\xFE\xFF", R(4)},
        DecodeRow{"a truncated four-byte sequence is one replacement",
                  "\xF0\x90\x80"
                  "x",
                  R(1) + "x"},
        DecodeRow{"the standard mixed example",
                  "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
                  "a" + R(3) + "b" + R(1) + "c" + R(2) + "d"},
        DecodeRow{"an error after a long ASCII run is found",
                  std::string(37, 'a') + "\xFF" + std::string(20, 'b'),
                  std::string(37, 'a') + R(1) + std::string(20, 'b')}));

TEST(DirectoryEndpoints, ReplacesABrokenByteAtEveryOffsetOfMixedCyrillicText) {
  // Characters of one or two bytes: a bad byte in one turns it into one U+FFFD per byte.
  std::vector<std::string> chars;
  for (const char* c :
       {"Ш", "к", "о", "л", "а", " ", "N", "5", " ", "г", ".", " ", "М", "о", "с",
        "к", "в", "а", ",", " ", "у", "л", ".", " ", "Л", "е", "н", "и", "н", "а"}) {
    chars.push_back(c);
  }
  for (std::size_t at = 0; at < chars.size(); ++at) {
    for (std::size_t byte = 0; byte < chars[at].size(); ++byte) {
      for (const char bad : {'\xFF', '\xC1'}) {
        std::string body;
        std::string expected;
        for (std::size_t i = 0; i < chars.size(); ++i) {
          if (i != at) {
            body += chars[i];
            expected += chars[i];
            continue;
          }
          std::string broken = chars[i];
          broken[byte] = bad;
          body += broken;
          for (std::size_t k = 0; k < broken.size(); ++k) expected += kFffd;
        }
        EXPECT_EQ(DecodeBody(body), expected) << "character " << at << ", byte " << byte;
      }
    }
  }
}

TEST(DirectoryEndpoints, DecodesABodyOfOnlyIllFormedBytesIntoReplacements) {
  EXPECT_EQ(DecodeBody(std::string(1000, '\xFF')), R(1000));
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

TEST(DirectoryEndpoints, LeavesRandomWellFormedTextUnchangedAndCutsItOnlyWhereBroken) {
  std::mt19937 random(11);
  const char32_t ranges[][2] = {
      {0x20, 0x7E}, {0x410, 0x44F}, {0x800, 0xD7FF}, {0xE000, 0xFFFF}, {0x10000, 0x10FFFF}};
  for (int round = 0; round < 500; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 60);
    for (int i = 0; i < length; ++i) {
      const auto& range = ranges[random() % 5];
      AppendUtf8(text, range[0] + random() % (range[1] - range[0] + 1));
    }
    ASSERT_EQ(DecodeBody(text), text);
    // Dropping the last byte of a multibyte character leaves exactly one replacement.
    if (!text.empty() && static_cast<unsigned char>(text.back()) >= 0x80) {
      std::string cut = text;
      cut.pop_back();
      while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80) {
        cut.pop_back();
      }
      cut.pop_back();
      const std::string broken = text.substr(0, text.size() - 1);
      EXPECT_EQ(DecodeBody(broken), cut + kFffd);
    }
  }
}

}  // namespace
}  // namespace orgkat
