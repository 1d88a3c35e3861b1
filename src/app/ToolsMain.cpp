// zolt_tools <command> <arguments>: the offline converters from the command
// line. Exit code 0 on success, 1 when a conversion fails (its outputs are
// then not written), 2 for a usage error.

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "Converters.h"
#include "Startup.h"

namespace {

using Args = std::vector<std::string>;

struct Command {
  const char* name;
  const char* arguments;
  const char* what;
  size_t minArgs;
  bool moreAllowed;  // any number of arguments past minArgs
  // 0 success, 1 failed conversion, 2 bad argument.
  int (*run)(const Args&);
  size_t output;  // the argument that names the output
  bool base;      // it is a base name: <base>.node and <base>.ele
};

bool toInt(const std::string& s, int& v) {
  char* end;
  errno = 0;
  const long l = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end != '\0' || errno == ERANGE || l < INT_MIN || l > INT_MAX) return false;
  v = int(l);
  return true;
}

bool toFloat(const std::string& s, float& v) {
  char* end;
  v = std::strtof(s.c_str(), &end);
  return !s.empty() && *end == '\0' && std::isfinite(v);
}

int badArgument(const std::string& s) {
  std::fprintf(stderr, "zolt_tools: bad argument \"%s\"\n", s.c_str());
  return 2;
}

int result(bool ok) { return ok ? 0 : 1; }

int transfer(const Args& a) {
  bool channels[4];
  for (int c = 0; c < 4; ++c) {
    const std::string& s = a[size_t(2 + c)];
    if (s != "0" && s != "1") return badArgument(s);
    channels[c] = s == "1";
  }
  float min, max;
  if (!toFloat(a[6], min)) return badArgument(a[6]);
  if (!toFloat(a[7], max)) return badArgument(a[7]);
  return result(convertTransferFunction(a[0], a[1], channels, min, max));
}

int rewrite(const Args& a) { return result(rewriteNodeEle(a[0], a[1])); }

int merge(const Args& a) {
  int levels;
  float offset[3], scaleA, scaleB;
  if (!toInt(a[0], levels)) return badArgument(a[0]);
  for (int k = 0; k < 3; ++k)
    if (!toFloat(a[size_t(1 + k)], offset[k])) return badArgument(a[size_t(1 + k)]);
  if (!toFloat(a[4], scaleA)) return badArgument(a[4]);
  if (!toFloat(a[5], scaleB)) return badArgument(a[5]);
  return result(convertMeshA(levels, offset, scaleA, scaleB, a[6], a[7], a[8]));
}

int slab(const Args& a) {
  int levels;
  float thickness;
  if (!toInt(a[1], levels)) return badArgument(a[1]);
  if (!toFloat(a[2], thickness)) return badArgument(a[2]);
  return result(generateSlabMesh(a[0], levels, thickness));
}

int minmax(const Args& a) { return result(convertMeshMinMax(a[0], a[1])); }

int stack(const Args& a) { return result(convertMeshC(a[0], Args(a.begin() + 1, a.end()))); }

int surface(const Args& a) { return result(convertSurfaceLevels(a[0], a[1])); }

int obj(const Args& a) { return result(convertObjMesh(a[0], Args(a.begin() + 1, a.end()))); }

int flow(const Args& a) { return result(convertFlowField(a[0], a[1], a[2]) != 0); }

const Command kCommands[] = {
    {"transfer", "<in> <out> <r> <g> <b> <a> <min> <max>",
     "256 lines of four bytes into a ramp from min to max and the channels\n"
     "switched on (r g b a: 0 or 1), scaled to 0..1",
     8, false, transfer, 1, false},
    {"rewrite", "<inBase> <out>",
     "inBase.node and inBase.ele into one file of vertices and 0-based elements", 2, false, rewrite,
     1, false},
    {"merge", "<levels> <ox> <oy> <oz> <scaleA> <scaleB> <outBase> <baseA> <baseB>",
     "two mesh hierarchies into one, level by level; B scaled and moved by the offset", 9, false,
     merge, 6, true},
    {"slab", "<outBase> <levels> <thickness>",
     "the slab [-1,1] x [-1,1] x [0,thickness], level l with 2^l cells per side", 3, false, slab, 0,
     true},
    {"minmax", "<outBase> <in>",
     "a vertex/element text file; keeps the elements in the middle of the x and z range", 2, false,
     minmax, 0, true},
    {"stack", "<outBase> <in>...", "vertex/element text files, one level each", 2, true, stack, 0,
     true},
    {"surface", "<in> <outBase>", "binary triangle levels over 16-bit coordinates, y negated", 2,
     false, surface, 1, true},
    {"obj", "<outBase> <in.obj>...",
     "OBJ surfaces into consistently oriented triangles, one level each", 1, true, obj, 0, true},
    {"flow", "<grid> <flow> <outBase>",
     "a tetrahedral flow grid with its flow file; energy as vertex value", 3, false, flow, 2, true},
};

void usage(FILE* out) {
  std::fprintf(out, "Usage: zolt_tools <command> <arguments>\n");
  std::fprintf(out, "Writes <outBase>.node and <outBase>.ele unless noted. Commands:\n");
  for (const Command& c : kCommands) {
    std::fprintf(out, "  %s %s\n", c.name, c.arguments);
    for (const char* p = c.what; *p;) {
      const char* end = std::strchr(p, '\n');
      const size_t n = end ? size_t(end - p) : std::strlen(p);
      std::fprintf(out, "      %.*s\n", int(n), p);
      p += n + (end ? 1 : 0);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  refuseOversizeWrites();
  if (argc < 2) {
    usage(stderr);
    return 2;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h") {
    usage(stdout);
    return 0;
  }
  for (const Command& c : kCommands) {
    if (name != c.name) continue;
    const Args args(argv + 2, argv + argc);
    if (args.size() < c.minArgs || (!c.moreAllowed && args.size() > c.minArgs)) {
      std::fprintf(stderr, "Usage: zolt_tools %s %s\n", c.name, c.arguments);
      return 2;
    }
    // The converters build their texts in memory; running out of it ends
    // the conversion with nothing written.
    try {
      return c.run(args);
    } catch (const std::bad_alloc&) {
      // Printed in pieces: nothing more is allocated.
      const char* out = args[c.output].c_str();
      std::fprintf(stderr, "zolt_tools %s: %s%s%s%s: cannot be written (out of memory)\n", c.name,
                   out, c.base ? ".node and " : "", c.base ? out : "", c.base ? ".ele" : "");
      return 1;
    }
  }
  std::fprintf(stderr, "zolt_tools: unknown command \"%s\"\n", name.c_str());
  usage(stderr);
  return 2;
}
