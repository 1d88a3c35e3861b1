#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "HeadlessOptions.h"

namespace {

std::vector<const char*> argvOf(const std::vector<const char*>& args) {
  std::vector<const char*> argv = {"zolt_headless"};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

}  // namespace

TEST(HeadlessOptions, AcceptedCommandLines) {
  auto fields = [](const HeadlessOptions& o) {
    return std::make_tuple(o.model, o.modelsDir, o.cachesDir, o.initFile, o.rebuild, o.loadOnly,
                           o.elementModel, o.scheme);
  };
  const struct {
    std::vector<const char*> args;
    void (*expect)(HeadlessOptions&);  // changes to the defaults
  } rows[] = {
      {{}, [](HeadlessOptions&) {}},
      {{"--models", "m dir", "--caches", "c", "--model", "cube", "--rebuild", "--load-only"},
       [](HeadlessOptions& o) {
         o.modelsDir = "m dir";
         o.cachesDir = "c";
         o.model = "cube";
         o.rebuild = o.loadOnly = true;
       }},
      {{"--init", "z.init", "--scheme", "3", "--element-model", "-1"},
       [](HeadlessOptions& o) {
         o.initFile = "z.init";
         o.scheme = 3;
         o.elementModel = -1;
       }},
  };
  for (const auto& row : rows) {
    const std::vector<const char*> argv = argvOf(row.args);
    HeadlessOptions o, expected;
    std::string error;
    EXPECT_TRUE(parseHeadlessOptions(static_cast<int>(argv.size()), argv.data(), o, error))
        << error;
    row.expect(expected);
    EXPECT_EQ(fields(o), fields(expected)) << argv.size();
  }
}

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
