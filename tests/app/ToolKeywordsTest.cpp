#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Converters.h"

TEST(ToolKeywords, LongerWordsWinOverTheirPrefixes) {
  const struct {
    const char* text;
    int scheme;
    int model;
  } rows[] = {
      // clang-format off
      {"nonlinear", 0, 2}, {"linear", 0, 0}, {"rotated", 0, 1}, {"partition", 0, 3},
      {"eulerlump", 1, 0}, {"euler", 0, 0}, {"newmarklump", 3, 0}, {"newmark", 2, 0},
      {"static", 4, 0}, {"explizit", 5, 0}, {"xx_newmarklump_xx", 3, 0}, {"nothing", 0, 0},
      {"static nonlinear", 4, 2}, {"explizit eulerlump", 5, 0},
      // clang-format on
  };
  for (const auto& r : rows) {
    EXPECT_EQ(static_cast<int>(parseIntegrationScheme(r.text)), r.scheme) << r.text;
    EXPECT_EQ(static_cast<int>(parseElementModel(r.text)), r.model) << r.text;
  }
}

TEST(ToolKeywords, StripsOnlyATrailingConfigSuffix) {
  const std::pair<const char*, const char*> rows[] = {
      {"bunny.config", "bunny"},       {"bunny", "bunny"},         {".config", ""},
      {"a.config.config", "a.config"}, {"a.configx", "a.configx"}, {"config", "config"},
  };
  for (const auto& [in, out] : rows) {
    char buffer[64];
    std::strcpy(buffer, in);
    stripConfigSuffix(buffer);
    EXPECT_STREQ(buffer, out) << in;
  }
}

TEST(ToolKeywords, ReadToolLineSkipsCommentsAndFindsTheData) {
  const char* text =
      "# a comment line\n"
      "  12 3 0 1\n"
      "text # 5 comment before any data\n"
      "\n"
      "label: -1.5 2\n"
      "x .25\n"
      "v 1 2 3\n"
      "  f 1 2 3\n"
      "usemtl stone\n"
      "end";
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fputs(text, f);
  std::rewind(f);
  std::vector<std::string> lines;
  while (const char* line = readToolLine(f)) lines.push_back(line);
  std::fclose(f);
  const std::vector<std::string> expected = {
      "12 3 0 1\n", "\n", "-1.5 2\n", ".25\n", "v 1 2 3\n", "f 1 2 3\n", "semtl stone\n", "end",
  };
  EXPECT_EQ(lines, expected);
}

// Lines longer than any buffer are read whole: a long comment's tail is no data.
TEST(ToolKeywords, ReadToolLineReadsWholeLinesHoweverLong) {
  const std::string pad(3000, 'x'), digits(3000, '7');
  const std::pair<std::string, std::vector<std::string>> rows[] = {
      {"# " + pad + " v 1 2 3\nv 4 5 6\n", {"v 4 5 6\n"}},
      {"note " + pad + " # v 1 2 3\nf 1 2 3\n", {"f 1 2 3\n"}},
      {digits + "\n7\n", {digits + "\n", "7\n"}},
  };
  for (const auto& [text, expected] : rows) {
    FILE* f = std::tmpfile();
    std::fputs(text.c_str(), f);
    std::rewind(f);
    std::vector<std::string> lines;
    while (const char* line = readToolLine(f)) lines.push_back(line);
    std::fclose(f);
    EXPECT_EQ(lines, expected) << text.substr(0, 20);
  }
}
