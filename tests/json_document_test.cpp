#include "platform/json_document.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace orgkat {
namespace {

struct TextRow {
  const char* says;
  std::string json;
  std::string text;
};

class MemberTextTable : public ::testing::TestWithParam<TextRow> {};

TEST_P(MemberTextTable, GivesTheTextOfTheValue) {
  const TextRow& row = GetParam();
  const auto document = JsonDocument::Parse("{\"v\":" + row.json + "}");
  ASSERT_NE(document, nullptr) << row.says;
  const auto value = document->Root().Member("v");
  ASSERT_TRUE(value) << row.says;
  EXPECT_EQ(value->Text(), row.text) << row.says;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MemberTextTable,
    ::testing::Values(
        TextRow{"a string has its escapes resolved", R"("a\"b\\c\/d\b\f\n\r\t\u0041")",
                "a\"b\\c/d\b\f\n\r\tA"},
        TextRow{"a string keeps non-ASCII letters", R"("Москва \u0416")", "Москва Ж"},
        TextRow{"an integer is written in decimal", "12", "12"},
        TextRow{"a negative integer keeps its sign", "-7", "-7"},
        TextRow{"minus zero is zero", "-0", "0"},
        TextRow{"the largest 64-bit integer stays exact", "9223372036854775807",
                "9223372036854775807"},
        TextRow{"the smallest 64-bit integer stays exact", "-9223372036854775808",
                "-9223372036854775808"},
        TextRow{"a decimal loses the trailing zeros of its fraction", "12.50", "12.5"},
        TextRow{"a negative decimal below one keeps its leading zero", "-0.25", "-0.25"},
        TextRow{"four decimal places are kept exactly", "0.0001", "0.0001"},
        TextRow{"a zero fraction keeps the point", "2.0", "2."},
        TextRow{"a zero fraction of four digits keeps the point", "-40.0000", "-40."},
        TextRow{"a decimal zero is written as 0", "0.000", "0"},
        TextRow{"a negative decimal zero is written as 0", "-0.0", "0"},
        TextRow{"a decimal that a double cannot hold stays exact", "922337203685.4775",
                "922337203685.4775"},
        TextRow{"five decimal places make a double", "1.23456", "1.23456"},
        TextRow{"a double has fifteen significant digits", "0.1234567890123456789",
                "0.123456789012346"},
        TextRow{"an exponent makes a double", "1.5e3", "1500"},
        TextRow{"a small exponent is written in exponent form", "1.5E-7", "1.5e-07"},
        TextRow{"an integer beyond 64 bits becomes a double", "9223372036854775808",
                "9.22337203685478e+18"},
        TextRow{"a very long integer becomes a double", "-123456789012345678901234",
                "-1.23456789012346e+23"},
        TextRow{"a decimal with sixteen whole digits becomes a double", "1234567890123456.5",
                "1.23456789012346e+15"},
        TextRow{"true is written as a word", "true", "true"},
        TextRow{"false is written as a word", "false", "false"},
        TextRow{"null is written as four letters", "null", "null"},
        TextRow{"an empty object", "{ }", "{}"}, TextRow{"an empty array", "[ ]", "[]"},
        TextRow{"an object becomes compact JSON", R"({ "name" : "x\"y" , "n" : 1 })",
                R"({"name":"x\"y","n":1})"},
        TextRow{"compact JSON escapes only quote, backslash, slash and NUL",
                R"(["a/b\\c\u0000d\t\n\u0001Ж"])", "[\"a\\/b\\\\c\\u0000d\t\n\x01Ж\"]"},
        TextRow{"numbers and words inside JSON text follow the table",
                R"([1, 2.0, -0.50, 1e2, true, false, null, {"k": []}])",
                R"([1,2.,-0.5,100,true,false,null,{"k":[]}])"},
        TextRow{"a member name is escaped like a string", R"({"a/b": "c"})", R"({"a\/b":"c"})"},
        TextRow{"a repeated name leaves only its later member in the text",
                R"({"a": 1, "b": 2, "a": 3})", R"({"b":2,"a":3})"},
        TextRow{"integers at and beyond the range a node holds keep every digit",
                "[144115188075855871, 144115188075855872, -144115188075855872, "
                "-144115188075855873, 9223372036854775807, -9223372036854775808]",
                "[144115188075855871,144115188075855872,-144115188075855872,"
                "-144115188075855873,9223372036854775807,-9223372036854775808]"},
        TextRow{"a decimal beyond the range a node holds stays exact", "922337203685477.5807",
                "922337203685477.5807"},
        TextRow{"a long string keeps all its characters",
                "[\"" + std::string(70000, 'x') + "\", \"y\"]",
                "[\"" + std::string(70000, 'x') + "\",\"y\"]"},
        TextRow{"containers closing at different depths",
                R"([[[1],2],{"a":[{}],"b":{"c":[]}},[],3])",
                R"([[[1],2],{"a":[{}],"b":{"c":[]}},[],3])"}));

TEST(JsonDocument, LooksUpMembersByExactNameAndTheLaterOneWins) {
  const auto document = JsonDocument::Parse(R"({"Title": 1, "title": 2, "title": 3})");
  ASSERT_NE(document, nullptr);
  const JsonValue root = document->Root();
  EXPECT_EQ(root.Member("title")->Integer(), 3);
  EXPECT_EQ(root.Member("Title")->Integer(), 1);
  EXPECT_FALSE(root.Member("TITLE"));
  EXPECT_FALSE(root.Member("titl"));
}

TEST(JsonDocument, KeepsTheLaterOfRepeatedNamesInLargeObjects) {
  std::string json = "{";
  for (int i = 0; i < 40; ++i) json += "\"m" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  json += "\"m7\":\"later\"}";
  const auto document = JsonDocument::Parse(json);
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->Root().Member("m7")->String(), "later");
  EXPECT_EQ(document->Root().Member("m39")->Integer(), 39);
}

TEST(JsonDocument, AnswersArrayAndMemberQueriesOnlyForTheirKinds) {
  const auto document = JsonDocument::Parse(R"([{"a": 1}, "s", [2]])");
  ASSERT_NE(document, nullptr);
  const JsonValue root = document->Root();
  EXPECT_EQ(root.kind(), JsonValue::Kind::Array);
  EXPECT_EQ(root.Size(), 3u);
  EXPECT_FALSE(root.Member("a"));
  EXPECT_FALSE(root.Element(3));
  const auto object = root.Element(0);
  EXPECT_EQ(object->Member("a")->Integer(), 1);
  EXPECT_EQ(object->Size(), 0u);
  EXPECT_FALSE(object->Element(0));
  EXPECT_FALSE(root.Element(1)->Member("a"));
  EXPECT_EQ(root.Element(2)->Element(0)->Integer(), 2);
}

TEST(JsonDocument, GivesNoDocumentForTextThatIsNotJson) {
  for (const char* text : {"", "   ", "{", "[1,]", "{\"a\" 1}", "nonsense", "<html></html>",
                           "{\"a\":1} trailing", "\"\\ud800\"", "01", "{'a':1}"}) {
    EXPECT_EQ(JsonDocument::Parse(text), nullptr) << text;
  }
}

TEST(JsonDocument, KeepsManyStringsAcrossItsStoreBlocksApart) {
  std::string json = "{";
  for (int i = 0; i < 200; ++i) {
    json += "\"k" + std::to_string(i) + "\":\"" + std::string(1000 + i * 37 % 4000, 'a' + i % 26) +
            "\",";
  }
  json += "\"k7\":\"later\"}";
  const auto document = JsonDocument::Parse(json);
  ASSERT_NE(document, nullptr);
  for (int i = 0; i < 200; ++i) {
    const auto value = document->Root().Member("k" + std::to_string(i));
    ASSERT_TRUE(value) << i;
    EXPECT_EQ(value->String(),
              i == 7 ? std::string("later") : std::string(1000 + i * 37 % 4000, 'a' + i % 26))
        << i;
  }
}

TEST(JsonDocument, WalksLongArraysElementByElement) {
  std::string json = "[";
  for (int i = 0; i < 100000; ++i) json += (i > 0 ? "," : "") + std::to_string(i);
  json += "]";
  const auto document = JsonDocument::Parse(json);
  ASSERT_NE(document, nullptr);
  std::int64_t expected = 0;
  for (auto element = document->Root().First(); element; element = element->Next()) {
    ASSERT_EQ(element->Integer(), expected++);
  }
  EXPECT_EQ(expected, 100000);
  EXPECT_EQ(document->Root().Size(), 100000u);
  EXPECT_EQ(document->Root().Element(99999)->Integer(), 99999);
  EXPECT_FALSE(document->Root().Member("0"));
}

TEST(JsonDocument, ParsesWritesAndFreesVeryDeepNestingWithoutOverflowingTheStack) {
  constexpr std::size_t depth = 200000;
  const std::string json = std::string(depth, '[') + std::string(depth, ']');
  auto document = JsonDocument::Parse(json);
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->Root().Text(), json);
  document.reset();

  std::string objects;
  for (std::size_t i = 0; i < depth; ++i) objects += "{\"a\":";
  objects += "null" + std::string(depth, '}');
  EXPECT_NE(JsonDocument::Parse(objects), nullptr);

  // Every level closes at its own place: after a member and an element of its own.
  std::string staggered;
  for (std::size_t i = 0; i < depth; ++i) staggered += "[{\"a\":";
  staggered += "0";
  for (std::size_t i = 0; i < depth; ++i) staggered += ",\"b\":1},2]";
  document = JsonDocument::Parse(staggered);
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->Root().Text(), staggered);
  EXPECT_EQ(document->Root().First()->Member("b")->Integer(), 1);
  document.reset();
  EXPECT_EQ(JsonDocument::Parse(std::string(depth, '[')), nullptr);
}

}  // namespace
}  // namespace orgkat
