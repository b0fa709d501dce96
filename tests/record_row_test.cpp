#include "scraper/record_row.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace orgkat {
namespace {

TEST(RecordRow, TrimValueStripsControlsAndSpacesFromTheEndsOnly) {
  EXPECT_EQ(TrimValue(" \t\r\n\x01 a \t b\x1F \x7F"), "a \t b\x1F \x7F");
  EXPECT_EQ(TrimValue("\xC2\xA0"
                      "a"
                      "\xC2\xA0"),
            "\xC2\xA0"
            "a"
            "\xC2\xA0");  // no-break space
  EXPECT_EQ(TrimValue(std::string(" \0 \n", 4)), "");
  EXPECT_EQ(TrimValue(""), "");
}

TEST(RecordRow, EscapeQuotesDoublesEveryQuoteOnce) {
  EXPECT_EQ(EscapeQuotes(R"(a"b""c)"), R"(a""b""""c)");
  EXPECT_EQ(EscapeQuotes("\""), "\"\"");
  EXPECT_EQ(EscapeQuotes("a;b\r\n"), "a;b\r\n");
}

// A realistic record that uses most rules at once: untrimmed titles with a quote and a line
// break, a district from `area`, `address` with phones including an empty one in the middle and
// an element that is not an object, trimmed e-mail and site, the director's phone taken from
// `eo_phone`, and a repeated `email` member of which the later one counts.
const char* const kSchool = R"({"list": {
  "eo_id": 1234,
  "title": " Школа \"Радуга\"\n",
  "title_full": "Государственное бюджетное общеобразовательное учреждение; школа № 5 ",
  "area": {"name_short": "  ЦАО\t", "name": "Центральный"},
  "address": {"title": " г. Москва, ул. Ленина, д. 1 ",
              "phones": [{"phone": ""}, {"phone": "+7 (495) 111-11-11"}, {"phone": ""},
                         "8 800", {"phone": "+7 (495) 222-22-22 "}]},
  "others": [{"title": "never used", "phones": [{"phone": "000"}]}],
  "email": "old@example.ru",
  "website": "\tschool5.example.ru ",
  "director": " Иванова Мария Петровна ",
  "current_director": {"phone": "8 (495) 333-33-33", "eo_phone": " +7 (495) 333-33-33",
                       "email": " director@example.ru"},
  "email": " school5@example.ru\r\n"
}})";

TEST(RecordRow, WritesAWholeRecordByEveryRule) {
  std::string lastDirector = "previous";
  EXPECT_EQ(RecordRow(kSchool, lastDirector),
            "\" Школа \"\"Радуга\"\"\n\";"
            "\"Государственное бюджетное общеобразовательное учреждение; школа № 5 \";"
            "\"ЦАО\";"
            "\"г. Москва, ул. Ленина, д. 1\";"
            "\" +7 (495) 111-11-11, , , +7 (495) 222-22-22\";"
            "\"school5@example.ru\";"
            "\"school5.example.ru\";"
            "\"Иванова Мария Петровна\";"
            "\" +7 (495) 333-33-33\";"
            "\"director@example.ru\"");
  EXPECT_EQ(lastDirector, " Иванова Мария Петровна ");
}

struct RowCase {
  const char* says;
  std::string list;
  std::string row;
};

class RowTable : public ::testing::TestWithParam<RowCase> {};

TEST_P(RowTable, BuildsTheRow) {
  const RowCase& c = GetParam();
  std::string lastDirector;
  EXPECT_EQ(RecordRow("{\"list\":" + c.list + "}", lastDirector), c.row) << c.says;
}

const std::string kEmptyRow = R"("";"";"";"";" ";"";"";"";" ";"")";

INSTANTIATE_TEST_SUITE_P(
    Rows, RowTable,
    ::testing::Values(
        RowCase{"an empty record gives empty cells with a space in both phone cells", "{}",
                kEmptyRow},
        RowCase{"a null record gives the same row", "null", kEmptyRow},
        RowCase{"a string record gives the same row", "\"text\"", kEmptyRow},
        RowCase{"an array record gives the same row", "[{\"title\":\"x\"}]", kEmptyRow},
        RowCase{"an address that is null hides the others",
                R"({"address": null, "others": [{"title": "A", "phones": [{"phone": "1"}]}]})",
                kEmptyRow},
        RowCase{"an address that is a string hides the others",
                R"({"address": "ул. Мира", "others": [{"title": "A"}]})", kEmptyRow},
        RowCase{"without an address the first of the others is used",
                R"({"others": [{"title": "A", "phones": [{"phone": "1"}, {"phone": "2"}]},
                               {"title": "B", "phones": [{"phone": "3"}]}]})",
                R"("";"";"";"A";" 1, 2";"";"";"";" ";"")"},
        RowCase{"empty others leave address and phones empty", R"({"others": []})", kEmptyRow},
        RowCase{"others that are not an array leave address and phones empty",
                R"({"others": {"title": "A"}})", kEmptyRow},
        RowCase{"phones that are not an array give no phones",
                R"({"address": {"title": "A", "phones": {"phone": "1"}}})",
                R"("";"";"";"A";" ";"";"";"";" ";"")"},
        RowCase{"empty phones before the first leave no trace, later ones leave a separator",
                R"({"address": {"phones": [{"phone": ""}, {"phone": "1"}, {"phone": ""},
                                           {"phone": "2"}]}})",
                R"("";"";"";"";" 1, , 2";"";"";"";" ";"")"},
        RowCase{"a trailing empty phone leaves a comma after trimming",
                R"({"address": {"phones": [{"phone": "1"}, {"phone": ""}]}})",
                R"("";"";"";"";" 1,";"";"";"";" ";"")"},
        RowCase{"a phone of spaces counts as a phone",
                R"({"address": {"phones": [{"phone": " "}, {"phone": "2"}]}})",
                R"("";"";"";"";" , 2";"";"";"";" ";"")"},
        RowCase{"a numeric phone is written as its number",
                R"({"address": {"phones": [{"phone": 5}, {"phone": 2.50}]}})",
                R"("";"";"";"";" 5, 2.5";"";"";"";" ";"")"},
        RowCase{"a director phone of exactly Не указано hides eo_phone",
                R"({"current_director": {"phone": "Не указано", "eo_phone": "1",
                                         "email": "d@x"}})",
                R"("";"";"";"";" ";"";"";"";" ";"d@x")"},
        RowCase{"Не указано in other letter case does not hide eo_phone",
                R"({"current_director": {"phone": "не указано", "eo_phone": "1"}})",
                R"("";"";"";"";" ";"";"";"";" 1";"")"},
        RowCase{"Не указано with a space after it does not hide eo_phone",
                R"({"current_director": {"phone": "Не указано ", "eo_phone": "1"}})",
                R"("";"";"";"";" ";"";"";"";" 1";"")"},
        RowCase{"a director without a phone member still gives eo_phone",
                R"({"current_director": {"eo_phone": "2"}})",
                R"("";"";"";"";" ";"";"";"";" 2";"")"},
        RowCase{"a null current director leaves its cells empty", R"({"current_director": null})",
                kEmptyRow},
        RowCase{"scalars and objects are written as their texts with quotes doubled",
                R"({"title": 5, "title_full": true, "email": false, "website": null,
                    "director": {"name": "X"}, "area": {"name_short": [1, "a"]}})",
                R"("5";"true";"[1,""a""]";"";" ";"false";"null";"{""name"":""X""}";" ";"")"},
        RowCase{"a semicolon and a line break inside a title stand as they are",
                R"({"title": "a;b\r\nc", "email": " \n "})",
                "\"a;b\r\nc\";\"\";\"\";\"\";\" \";\"\";\"\";\"\";\" \";\"\""},
        RowCase{"an area without name_short gives an empty district", R"({"area": {"name": "X"}})",
                kEmptyRow},
        RowCase{
            "cells that a spreadsheet would take for formulas get a leading apostrophe",
            R"j({"title": "=HYPERLINK(\"x\")", "title_full": "+1+2", "area": {"name_short": "-A"},
                    "address": {"title": " @SUM(A1) "}, "email": "=1", "website": "+-",
                    "director": "@", "current_director": {"email": "--"}})j",
            R"j("'=HYPERLINK(""x"")";"'+1+2";"'-A";"'@SUM(A1)";" ";"'=1";"'+-";"@";" ";"'--")j"},
        RowCase{"numbers, a lone sign and a formula character after a space stay as they are",
                R"({"title": "-5", "title_full": " =1", "area": {"name_short": "-.5"},
                    "address": {"title": "="}, "email": "+1.5e3", "website": "-1E-2",
                    "director": "1=1", "current_director": {"email": "+"}})",
                R"("-5";" =1";"-.5";"=";" ";"+1.5e3";"-1E-2";"1=1";" ";"+")"},
        RowCase{"signs that do not begin a whole number are formulas",
                R"({"title": "-1e", "title_full": "+.", "email": "-1.2.3", "website": "-1e+",
                    "director": "- 1"})",
                R"("'-1e";"'+.";"";"";" ";"'-1.2.3";"'-1e+";"'- 1";" ";"")"},
        RowCase{"the phone cells begin with their space and are never marked",
                R"({"address": {"phones": [{"phone": "+7 495"}, {"phone": "=1"}]},
                    "current_director": {"eo_phone": "=2+2"}})",
                R"("";"";"";"";" +7 495, =1";"";"";"";" =2+2";"")"}));

TEST(RecordRow, FailsBeforeReadingAnythingWhenTheBodyHoldsNoRecord) {
  for (const char* body : {"", "not json", "{\"list\": {}", "[{\"list\": {}}]", "\"list\"",
                           "{\"List\": {}}", "{\"data\": {\"list\": {}}}", "null"}) {
    std::string lastDirector = "from the record before";
    EXPECT_THROW(RecordRow(body, lastDirector), std::runtime_error) << body;
    EXPECT_EQ(lastDirector, "") << body;
  }
}

TEST(RecordRow, ClearsTheLastDirectorWhenTheRecordNamesNone) {
  std::string lastDirector = "from the record before";
  RecordRow(R"({"list": {"title": "x"}})", lastDirector);
  EXPECT_EQ(lastDirector, "");
}

}  // namespace
}  // namespace orgkat
