// The program run for real in a temporary working directory, without a
// display.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Files.h"

using namespace zolt::test;

TEST(Main, InitFileCasesAndTheMissingDisplay) {
  const std::string banner =
      "\nZolt - Simulation using 3D Finite Elements\n" + std::string(42, '-') + "\n\n";
  const struct {
    const char* init;  // work/ZOLT.init, or null
    std::vector<std::string> args;
    int status;
    std::string out;
    std::vector<const char*> made;  // directories made, relative to the parent
  } rows[] = {
      // No init file: no directory is looked at.
      {nullptr, {"x"}, 0, "EXIT.\n", {}},
      // Only the models directory: caches and movies are still created.
      {"MODELS_PATH ./m/\n", {"x", "y"}, 0,
       "  Read models from \"./m/\"\n\n  Create Directory ../caches/\n"
       "  Create Directory ../movies/\nEXIT.\n",
       {"caches", "movies"}},
      // Without a display the window fails and the exit handler still runs.
      {nullptr, {}, 1, "Start Simulation\n\nInitialize OpenGL...\nEXIT.\n", {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.out);
    TempDir t;
    mkdir(t.file("work").c_str(), 0777);
    if (row.init) writeFile(t.file("work/ZOLT.init"), row.init);
    std::vector<std::string> args = row.args;
    args.insert(args.begin(), ZOLT_PROGRAM);
    const ProgramResult r = runProgram(t.file("work"), args);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.out, banner + row.out);
    for (const char* d : {"caches", "movies"})
      EXPECT_EQ(exists(t.file(d)), std::find(row.made.begin(), row.made.end(), std::string(d)) !=
                                       row.made.end())
          << d;
    EXPECT_FALSE(exists(t.file("work/m")));
    if (row.status == 0) EXPECT_EQ(r.err, "");
    else EXPECT_NE(r.err.find("failed to open display"), std::string::npos) << r.err;
  }
}
