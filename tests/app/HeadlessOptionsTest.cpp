#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "HeadlessOptions.h"

// Each row: the arguments, then the usage error, or the test runs parsed
// as "model:elementModel:seconds " words.
TEST(HeadlessOptions, UsageErrorsAndTestRunLists) {
  const std::pair<std::vector<const char*>, const char*> rows[] = {
      {{"--models", "m"}, "--models and --caches go together"},
      {{"--caches", "c"}, "--models and --caches go together"},
      {{"--init", "z", "--models", "m", "--caches", "c"}, "--init excludes --models and --caches"},
      {{"--model"}, "--model needs NAME"},
      {{"--model", ""}, "bad value for --model: \"\""},
      {{"--scheme", "2x"}, "bad value for --scheme: \"2x\""},
      {{"--scheme", "99999999999"}, "bad value for --scheme: \"99999999999\""},
      {{"cube"}, "unknown argument cube"},
      {{"--load"}, "unknown argument --load"},
      {{"--run-tests", "a"}, "a:0:20 "},
      {{"--run-tests", "a:2,b:0:7"}, "a:2:20 b:0:7 "},
      {{"--run-tests", "default"},
       "bunnyHigh:0:20 liverHigh:0:20 bunny:0:50 brsc3:2:20 bunny:2:20 "},
      {{"--run-tests", "a:6"}, "bad value for --run-tests: \"a:6\""},
      {{"--run-tests", "a:0:x"}, "bad value for --run-tests: \"a:0:x\""},
      {{"--run-tests", "a:0:1:2"}, "bad value for --run-tests: \"a:0:1:2\""},
      {{"--run-tests", "a,"}, "bad value for --run-tests: \"a,\""},
      {{"--run-tests", ""}, "bad value for --run-tests: \"\""},
  };
  for (const auto& [args, expected] : rows) {
    std::vector<const char*> argv = {"zolt_headless"};
    argv.insert(argv.end(), args.begin(), args.end());
    HeadlessOptions o;
    std::string error, parsed;
    const bool ok = parseHeadlessOptions(static_cast<int>(argv.size()), argv.data(), o, error);
    for (const TestRun& r : o.testRuns)
      parsed +=
          r.model + ":" + std::to_string(r.elementModel) + ":" + std::to_string(r.seconds) + " ";
    EXPECT_EQ(ok ? parsed : error, expected) << args.back();
  }
}

// Every option description in the help starts in the same column.
TEST(HeadlessOptions, HelpDescriptionsShareOneColumn) {
  std::istringstream lines(headlessHelp());
  std::set<size_t> columns;
  int options = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("  --", 0) != 0) continue;
    ++options;
    columns.insert(line.find_first_not_of(' ', line.find("  ", 2)));
  }
  EXPECT_GT(options, 20);
  EXPECT_EQ(columns.size(), 1u);
}
