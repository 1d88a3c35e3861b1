#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HeadlessOptions.h"

namespace {

std::vector<const char*> argvOf(const std::vector<const char*>& args) {
  std::vector<const char*> argv = {"zolt_headless"};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

}  // namespace

TEST(HeadlessOptions, UsageErrors) {
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
  };
  for (const auto& [args, message] : rows) {
    const std::vector<const char*> argv = argvOf(args);
    HeadlessOptions o;
    std::string error;
    EXPECT_FALSE(parseHeadlessOptions(static_cast<int>(argv.size()), argv.data(), o, error));
    EXPECT_EQ(error, message);
  }
}

TEST(HeadlessOptions, TestRunLists) {
  const std::pair<const char*, const char*> rows[] = {
      {"a", "a:0:20 "},
      {"a:2,b:0:7", "a:2:20 b:0:7 "},
      {"default", "bunnyHigh:0:20 liverHigh:0:20 bunny:0:50 brsc3:2:20 bunny:2:20 "},
      {"a:6", nullptr},
      {"a:0:x", nullptr},
      {"a:0:1:2", nullptr},
      {"a,", nullptr},
      {"", nullptr},
  };
  for (const auto& [text, runs] : rows) {
    const std::vector<const char*> argv = argvOf({"--run-tests", text});
    HeadlessOptions o;
    std::string error, parsed;
    EXPECT_EQ(parseHeadlessOptions(static_cast<int>(argv.size()), argv.data(), o, error),
              runs != nullptr)
        << text;
    for (const TestRun& r : o.testRuns)
      parsed +=
          r.model + ":" + std::to_string(r.elementModel) + ":" + std::to_string(r.seconds) + " ";
    if (runs) {
      EXPECT_EQ(parsed, runs);
    }
  }
}
