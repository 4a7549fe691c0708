// SQL Server's conversions and text forms, as the engine applies them.
#include <gtest/gtest.h>

#include "emu/types.h"

namespace finprep::emu {
namespace {

SqlType T(const char* name) { return *SqlType::Parse(name); }

TEST(Conversions, StrPadsRoundsAndOverflows) {
  struct Case {
    double value;
    int length, decimals;
    const char* out;
  } cases[] = {
      {1001, 10, 0, "      1001"},
      {3, 10, 0, "         3"},
      {2.5, 10, 0, "         3"},  // half away from zero
      {-2.5, 10, 0, "        -3"},
      {0, 10, 0, "         0"},
      {12345678901.0, 10, 0, "**********"},  // does not fit
      {3.14159, 10, 2, "      3.14"},
      {123.456, 5, 2, "123.5"},  // fewer decimals when the whole part fits
  };
  for (const Case& c : cases)
    EXPECT_EQ(FormatStr(c.value, c.length, c.decimals), c.out) << c.value;
}

TEST(Conversions, TextToNumbers) {
  EXPECT_EQ(ParseSqlInt(""), 0);  // an empty text is 0
  EXPECT_EQ(ParseSqlInt("  42 "), 42);
  EXPECT_EQ(ParseSqlInt("-7"), -7);
  EXPECT_FALSE(ParseSqlInt("1.5"));
  EXPECT_FALSE(ParseSqlInt("A01"));
  EXPECT_EQ(ParseSqlFloat(" "), 0.0);
  EXPECT_EQ(ParseSqlFloat(" 2002 "), 2002.0);
  EXPECT_EQ(ParseSqlFloat("1e3"), 1000.0);
  EXPECT_EQ(ParseSqlFloat("007"), 7.0);
  for (const char* bad : {"abc", "inf", "nan", "0x10", "1e", "--1", "."})
    EXPECT_FALSE(ParseSqlFloat(bad)) << bad;
}

TEST(Conversions, DateTimes) {
  EXPECT_EQ(NormalizeDateTime("2023-01-05"), "2023-01-05 00:00:00.000");
  EXPECT_EQ(NormalizeDateTime("20230105"), "2023-01-05 00:00:00.000");
  EXPECT_EQ(NormalizeDateTime("2023/1/5 13:04:05.5"), "2023-01-05 13:04:05.500");
  EXPECT_EQ(NormalizeDateTime("2024-02-29T08:00"), "2024-02-29 08:00:00.000");
  for (const char* bad : {"2023-02-29", "2023-13-01", "yesterday", "2023-01-05 25:00", ""})
    EXPECT_FALSE(NormalizeDateTime(bad)) << bad;
  EXPECT_EQ(ConvertToText(std::string("2023-01-05 13:04:00.000"), T("datetime")),
            "Jan  5 2023  1:04PM");
}

TEST(Conversions, ImplicitConversionsAndErrors) {
  EXPECT_EQ(ConvertValue(std::string(""), T("varchar(10)"), T("int"), false),
            Value(std::int64_t{0}));
  EXPECT_EQ(ConvertValue(std::int64_t{3}, T("int"), T("varchar(30)"), false),
            Value(std::string("3")));
  EXPECT_EQ(ConvertValue(12.5, T("money"), T("varchar(30)"), false), Value(std::string("12.50")));
  EXPECT_EQ(ConvertValue(std::string("ab"), T("varchar(2)"), T("char(4)"), true),
            Value(std::string("ab  ")));
  EXPECT_EQ(ConvertValue(std::monostate{}, T("int"), T("varchar(5)"), true),
            Value(std::monostate{}));

  auto number = [](const char* from, Value v, const char* to, bool assignment) {
    try {
      ConvertValue(v, T(from), T(to), assignment);
    } catch (const ServerError& e) {
      return e.messages().front().number;
    }
    return 0;
  };
  EXPECT_EQ(number("varchar(5)", std::string("A01"), "float", false), 8114);
  EXPECT_EQ(number("varchar(5)", std::string("A01"), "int", false), 245);
  EXPECT_EQ(number("varchar(9)", std::string("2023-02-30"), "datetime", true), 241);
  EXPECT_EQ(number("varchar(9)", std::string("中文字"), "varchar(4)", true), 8152);  // 6 bytes
  EXPECT_EQ(number("varchar(9)", std::string("中文"), "varchar(4)", true), 0);
  EXPECT_EQ(number("varchar(9)", std::string("abcdef"), "varchar(4)", false), 0);  // a cast cuts
}

TEST(Conversions, TextFormsOfValues) {
  EXPECT_EQ(FormatValue(std::int64_t{5}, T("int")), "5");
  EXPECT_EQ(FormatValue(120000.5, T("money")), "120000.5000");
  EXPECT_EQ(FormatValue(1.005, T("decimal(10,2)")), "1.01");
  EXPECT_EQ(FormatValue(0.1, T("float")), "0.1");
  EXPECT_EQ(FormatValue(std::monostate{}, T("int")), std::nullopt);
  EXPECT_EQ(T("numeric(18,2)").Name(), "decimal(18,2)");
  EXPECT_EQ(T("VARCHAR(254)").Name(), "varchar(254)");
  EXPECT_FALSE(SqlType::Parse("varchar(x)"));
  EXPECT_FALSE(SqlType::Parse("blob"));
}

}  // namespace
}  // namespace finprep::emu
