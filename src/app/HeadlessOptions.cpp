#include "HeadlessOptions.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace {

struct Option {
  const char* name;
  const char* value;  // name of the value, or null for a switch
  const char* help;
  // Stores the value (or sets the switch); false when the value is bad.
  bool (*apply)(HeadlessOptions&, const char* value);
};

bool toInt(const char* text, int& out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || v < -2147483647L || v > 2147483647L)
    return false;
  out = static_cast<int>(v);
  return true;
}

// "default" for the built-in runs, else comma-separated entries
// "name[:elementModel[:seconds]]" (element model 0 .. 5, seconds >= 0).
bool toTestRuns(const std::string& text, std::vector<TestRun>& runs) {
  if (text == "default") {
    runs = kBuiltInTestRuns;
    return true;
  }
  runs.clear();
  std::istringstream list(text);
  std::string entry;
  while (std::getline(list, entry, ',')) {
    std::istringstream fields(entry);
    std::string name, model, seconds;
    std::getline(fields, name, ':');
    TestRun run{name};
    if (name.empty() ||
        (std::getline(fields, model, ':') && !(toInt(model.c_str(), run.elementModel) &&
                                               run.elementModel >= 0 && run.elementModel <= 5)) ||
        (std::getline(fields, seconds, ':') &&
         !(toInt(seconds.c_str(), run.seconds) && run.seconds >= 0)) ||
        !fields.eof())
      return false;
    runs.push_back(run);
  }
  return !runs.empty() && text.back() != ',';
}

const Option kOptions[] = {
    {"--init", "FILE", "read the directories from this init file (default: ZOLT.init)",
     [](HeadlessOptions& o, const char* v) { return !(o.initFile = v).empty(); }},
    {"--models", "DIR", "models directory (needs --caches)",
     [](HeadlessOptions& o, const char* v) { return !(o.modelsDir = v).empty(); }},
    {"--caches", "DIR", "caches directory, created when missing (needs --models)",
     [](HeadlessOptions& o, const char* v) { return !(o.cachesDir = v).empty(); }},
    {"--model", "NAME", "model to load (default: bunnyFurTex)",
     [](HeadlessOptions& o, const char* v) { return !(o.model = v).empty(); }},
    {"--element-model", "N", "element model 0 .. 5 (default: 0)",
     [](HeadlessOptions& o, const char* v) { return toInt(v, o.elementModel); }},
    {"--scheme", "N", "integration scheme 0 .. 5 (default: 0)",
     [](HeadlessOptions& o, const char* v) { return toInt(v, o.scheme); }},
    {"--rebuild", nullptr, "ignore and rewrite the model's caches",
     [](HeadlessOptions& o, const char*) { return o.rebuild = true; }},
    {"--load-only", nullptr, "stop after the model is loaded",
     [](HeadlessOptions& o, const char*) { return o.loadOnly = true; }},
    {"--steps", "N", "compute N time steps after loading",
     [](HeadlessOptions& o, const char* v) { return toInt(v, o.steps) && o.steps >= 0; }},
    {"--print-every", "M", "print \"step <n> maxu <value>\" every M steps",
     [](HeadlessOptions& o, const char* v) { return toInt(v, o.printEvery) && o.printEvery >= 0; }},
    {"--vertex", "V", "also print the displacement of vertex V (1-based, numbered as in the mesh file)",
     [](HeadlessOptions& o, const char* v) { return toInt(v, o.vertex) && o.vertex-- >= 1; }},
    {"--lowest", nullptr,
     "also print \"lowest <y> <y'>\": least y before and after the collision pass",
     [](HeadlessOptions& o, const char*) { return o.lowest = true; }},
    {"--gravity", nullptr, "switch gravity on",
     [](HeadlessOptions& o, const char*) { return o.gravity = true; }},
    {"--forces", nullptr, "apply the model's configured forces",
     [](HeadlessOptions& o, const char*) { return o.forces = true; }},
    {"--force-field", nullptr, "switch the force field on",
     [](HeadlessOptions& o, const char*) { return o.forceField = true; }},
    {"--freeze-at", "N", "freeze the forces before step N",
     [](HeadlessOptions& o, const char* v) { return toInt(v, o.freezeAt); }},
    {"--reset-at", "N", "reset the simulation before step N",
     [](HeadlessOptions& o, const char* v) { return toInt(v, o.resetAt); }},
    {"--pin", "V", "pin vertex V (1-based, numbered as in the mesh file) where it is; repeatable",
     [](HeadlessOptions& o, const char* v) {
       int n = 0;
       if (!toInt(v, n) || n < 1) return false;
       o.pins.push_back(n - 1);
       return true;
     }},
    {"--solver", "K",
     "solver 0 V-cycle, 1 CG, 2 direct (dense inverse or sparse factor), 3 multigrid CG",
     [](HeadlessOptions& o, const char* v) {
       return toInt(v, o.solver) && o.solver >= 0 && o.solver <= 3;
     }},
    {"--extra-passes", "K", "extra solves after the inversion check",
     [](HeadlessOptions& o, const char* v) {
       return toInt(v, o.extraPasses) && o.extraPasses >= 0;
     }},
    {"--stress", nullptr, "compute the stress every step",
     [](HeadlessOptions& o, const char*) { return o.stress = true; }},
    {"--residual", nullptr, "compute the residual every step",
     [](HeadlessOptions& o, const char*) { return o.residual = true; }},
    {"--average", nullptr, "average the forces with the previous step",
     [](HeadlessOptions& o, const char*) { return o.average = true; }},
    {"--solver-test", nullptr, "after the steps, run the solver test (writes \"matrix.bin\")",
     [](HeadlessOptions& o, const char*) { return o.solverTest = true; }},
    {"--dump-displacement", "FILE", "write the final displacement, one value a line",
     [](HeadlessOptions& o, const char* v) { return !(o.dumpDisplacement = v).empty(); }},
    {"--benchmark", "S", "time S simulated seconds of stepping instead of --steps",
     [](HeadlessOptions& o, const char* v) {
       return toInt(v, o.benchmarkSeconds) && o.benchmarkSeconds >= 0;
     }},
    {"--run-tests", "LIST",
     "time the models of LIST (\"default\" or name[:elementModel[:seconds]],...)"
     " instead of loading --model",
     [](HeadlessOptions& o, const char* v) { return toTestRuns(v, o.testRuns); }},
    {"--help", nullptr, "print this text",
     [](HeadlessOptions& o, const char*) { return o.help = true; }},
};

}  // namespace

bool parseHeadlessOptions(int argc, const char* const* argv, HeadlessOptions& o,
                          std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const Option* option = nullptr;
    for (const Option& candidate : kOptions)
      if (arg == candidate.name) option = &candidate;
    if (!option) {
      error = "unknown argument " + arg;
      return false;
    }
    const char* value = nullptr;
    if (option->value) {
      if (i + 1 >= argc) {
        error = arg + " needs " + option->value;
        return false;
      }
      value = argv[++i];
    }
    if (!option->apply(o, value)) {
      error = "bad value for " + arg + ": \"" + (value ? value : "") + "\"";
      return false;
    }
  }
  if (!o.initFile.empty() && (!o.modelsDir.empty() || !o.cachesDir.empty())) {
    error = "--init excludes --models and --caches";
    return false;
  }
  if (o.modelsDir.empty() != o.cachesDir.empty()) {
    error = "--models and --caches go together";
    return false;
  }
  return true;
}

std::string headlessUsage() {
  return "usage: zolt_headless [--init FILE | --models DIR --caches DIR] [--model NAME]"
         " [--element-model N] [--scheme N] [--rebuild] [--load-only] [--steps N] [options]"
         " [--help]\n";
}

std::string headlessHelp() {
  std::ostringstream text;
  text << headlessUsage() << "Loads a model without a window.\n";
  auto column = [](const Option& o) {
    return std::string(o.name) + (o.value ? std::string(" ") + o.value : "");
  };
  // Every description starts two blanks after the longest name.
  size_t width = 0;
  for (const Option& o : kOptions) width = std::max(width, column(o).size() + 2);
  for (const Option& o : kOptions) {
    std::string name = column(o);
    name.resize(width, ' ');
    text << "  " << name << o.help << "\n";
  }
  text << "Exit status: 0 ok, 1 missing or invalid model file, 2 usage error,"
          " 3 the state stopped being finite.\n";
  return text.str();
}
