// The program run for real in a temporary working directory, without a
// display.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "Files.h"

using namespace zolt::test;

namespace {

const std::string kBanner =
    "\nZolt - Simulation using 3D Finite Elements\n" + std::string(42, '-') + "\n\n";

}  // namespace

TEST(Main, AnyArgumentEndsAfterTheInitFile) {
  TempDir t;
  mkdir((t.file("work")).c_str(), 0777);
  const ProgramResult r = runProgram(t.file("work"), {ZOLT_PROGRAM, "x"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kBanner + "EXIT.\n");
  EXPECT_FALSE(exists(t.file("caches")));  // no init file: no directory is looked at
}

TEST(Main, InitFileWithOnlyTheModelsDirectoryStillCreatesCachesAndMovies) {
  TempDir t;
  mkdir(t.file("work").c_str(), 0777);
  writeFile(t.file("work/ZOLT.init"), "MODELS_PATH ./m/\n");
  const ProgramResult r = runProgram(t.file("work"), {ZOLT_PROGRAM, "x", "y"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kBanner +
                       "  Read models from \"./m/\"\n\n"
                       "  Create Directory ../caches/\n"
                       "  Create Directory ../movies/\n"
                       "EXIT.\n");
  EXPECT_TRUE(exists(t.file("caches")));
  EXPECT_TRUE(exists(t.file("movies")));
  EXPECT_FALSE(exists(t.file("work/m")));
  EXPECT_EQ(r.err, "");
}

TEST(Main, WithoutADisplayTheWindowFailsAndTheExitHandlerStillRuns) {
  TempDir t;
  const ProgramResult r = runProgram(t.file(""), {ZOLT_PROGRAM});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kBanner +
                       "Start Simulation\n\n"
                       "Initialize OpenGL...\n"
                       "EXIT.\n");
  EXPECT_NE(r.err.find("failed to open display"), std::string::npos) << r.err;
}
