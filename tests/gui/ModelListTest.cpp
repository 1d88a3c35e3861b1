#include <gtest/gtest.h>

#include "ModelList.h"
#include "TempDir.h"

using zolt::test::TempDir;

TEST(ModelList, ListsConfigNamesWithoutSuffixSortedByBytes) {
  TempDir dir;
  for (const char* name : {"a.config", "b.txt", "B.config", ".config", "c.config.bak", "config",
                           "bunnyFur.config", "bunny.config"})
    dir.write(name, "x");
  const std::vector<std::string> expected = {"B", "a", "bunny", "bunnyFur"};
  EXPECT_EQ(listFiles(dir.path.c_str(), ".config"), expected);
  EXPECT_TRUE(listFiles(dir.file("missing").c_str(), ".config").empty());
}

TEST(ModelList, SelectionMatchesOnlyTheExactName) {
  const std::vector<std::string> list = {"bunny", "bunnyFur", "bunnyFurTex"};
  for (const char* name : {"bunnyF", "bunnyFurTexX", "", "Bunny"})
    EXPECT_EQ(modelListIndex(list, name), 0) << name;
  EXPECT_EQ(modelListIndex(list, "bunnyFur"), 2);
  for (int outside : {0, 4, -1}) EXPECT_EQ(modelListEntry(list, outside), "");
}

TEST(ModelList, ElementModelAndSchemeTables) {
  const int elementModels[][2] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 0}, {-1, 0}};
  for (const auto& r : elementModels) EXPECT_EQ(elementModelForChoice(r[0]), r[1]) << r[0];
  const int schemes[][2] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 5}, {5, 4}, {6, 0}, {-2, 0}};
  for (const auto& r : schemes) EXPECT_EQ(schemeForSelection(r[0]), r[1]) << r[0];
}
