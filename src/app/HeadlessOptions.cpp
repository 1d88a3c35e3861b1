#include "HeadlessOptions.h"

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
         " [--element-model N] [--scheme N] [--rebuild] [--load-only] [--help]\n";
}

std::string headlessHelp() {
  std::ostringstream text;
  text << headlessUsage() << "Loads a model without a window.\n";
  for (const Option& o : kOptions) {
    std::string name = std::string(o.name) + (o.value ? std::string(" ") + o.value : "");
    name.resize(22, ' ');
    text << "  " << name << o.help << "\n";
  }
  text << "Exit status: 0 ok, 1 missing or invalid model file, 2 usage error.\n";
  return text.str();
}
