#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Capture.h"
#include "CountingNew.h"
#include "CubeModel.h"
#include "Files.h"
#include "Run.h"
#include "Startup.h"
#include "Tetrahedron.h"

using namespace zolt::test;

namespace {

// Restores the process-wide directories when a test changed them.
struct SavedPaths {
  std::string models = modelsPath, caches = cachesPath, movies = moviesPath;
  ~SavedPaths() {
    modelsPath = models;
    cachesPath = caches;
    moviesPath = movies;
  }
};

// A temporary directory that holds the models and their caches.
struct ModelDir : SavedPaths {
  TempDir t;
  ModelDir() { modelsPath = cachesPath = t.file(""); }
};

}  // namespace

TEST(Startup, EnsureDirectoryCreatesParentsAndKeepsBlanks) {
  TempDir t;
  const std::string nested = t.file("a/b c/d/");
  EXPECT_EQ(captureStdout([&] { EXPECT_TRUE(ensureDirectory(nested)); }),
            "  Create Directory " + nested + "\n");
  EXPECT_TRUE(exists(t.file("a/b c/d")));
  EXPECT_FALSE(exists(t.file("a/b")));
  EXPECT_EQ(captureStdout([&] { EXPECT_TRUE(ensureDirectory(nested)); }), "");

  writeFile(t.file("file"), "");
  const CapturedOutput o = captureBoth([&] { EXPECT_FALSE(ensureDirectory(t.file("file/x/"))); });
  EXPECT_EQ(o.err, "[Startup] Error: Could not create directory \"" + t.file("file/x/") +
                       "\": Not a directory\n");
}

TEST(Startup, InitFileSetsTheDirectoriesAndCreatesCachesAndMovies) {
  SavedPaths saved;
  TempDir t;
  writeFile(t.file("ZOLT.init"), "# words that are no key are skipped\nMODELS_PATH \"" +
                                     t.file("my models") + "\"\nCACHES_PATH " + t.file("c/d") +
                                     "\nMOVIES_PATH " + t.file("mv/") + " MOVIES");
  const std::string out = captureStdout([&] { readInitFile((t.file("ZOLT.init")).c_str()); });
  EXPECT_EQ(out, "  Read models from \"" + t.file("my models/") + "\"\n" +
                     "  Read/write cache files from \"" + t.file("c/d/") + "\"\n" +
                     "  Write movies to \"" + t.file("mv/") + "\"\n\n" + "  Create Directory " +
                     t.file("c/d/") + "\n" + "  Create Directory " + t.file("mv/") + "\n");
  EXPECT_EQ(modelsPath, t.file("my models/"));
  EXPECT_TRUE(exists(t.file("c/d")));
  EXPECT_TRUE(exists(t.file("mv")));
  EXPECT_FALSE(exists(t.file("my models")));

  // Without the file nothing is printed, changed or created.
  modelsPath = "unchanged/";
  EXPECT_EQ(captureStdout([&] { readInitFile((t.file("none.init")).c_str()); }), "");
  EXPECT_EQ(modelsPath, "unchanged/");
}

TEST(Startup, LoadModelRefusesUnknownIndicesAndUnusableModels) {
  ModelDir d;
  writeCubeModel(d.t.file(""), "cube", "");
  writeCubeModel(d.t.file(""), "bad", "FIXED_VERTICES 1 99");
  const struct {
    const char* name;
    int model, scheme;
    const char* err;
  } rows[] = {
      {"cube", 6, 0, "[Startup, loadModel] Error: Element model 6 is not one of 0 .. 5"},
      {"cube", -1, 0, "[Startup, loadModel] Error: Element model -1 is not one of 0 .. 5"},
      {"cube", 0, 6, "[Startup, loadModel] Error: Integration scheme 6 is not one of 0 .. 5"},
      {"cube", 0, -2, "[Startup, loadModel] Error: Integration scheme -2 is not one of 0 .. 5"},
      {"bad", 0, 0, "[Run] Error: Fixed vertex 99"},
      {"cube", 5, 5, nullptr},
  };
  for (const auto& row : rows) {
    ::Run* run = nullptr;
    const CapturedOutput o = captureBoth([&] {
      run = loadModel({row.name, false, row.model, row.scheme});
    });
    EXPECT_EQ(run, currentRun);
    EXPECT_EQ(run == nullptr, row.err != nullptr) << row.name << row.model << row.scheme;
    if (row.err) {
      EXPECT_EQ(o.err.rfind(row.err, 0), 0u) << o.err;
    }
  }
  EXPECT_NE(currentRun, nullptr);
  unloadModel();
  EXPECT_EQ(currentRun, nullptr);
}

// Running out of memory in a load after the text files are read (mesh cache
// or hierarchy, assembly on two threads, coarse levels, caches) ends it with
// one line and no model, also when memory stays short while the half-built
// model is torn down, and gives its memory back; the next load rebuilds what
// was half written, and unloading it allocates nothing. (The text readers'
// streams turn a failed allocation into a bad file: one line, exit 1.)
TEST(Startup, OutOfMemoryDuringALoadEndsItWithOneLine) {
  ModelDir d;
  writeCubeModel(d.t.file(""), "cube", "LEVEL 3\nFIXED_VERTICES 1 1\n");
  const struct {
    bool rebuild;     // cold, else from the caches
    bool staysShort;  // every allocation after the failing one fails too
    int stride;       // in eightieths of the load's allocations
  } rows[] = {{true, false, 1}, {true, true, 2}, {false, false, 2}, {false, true, 2}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.rebuild ? "cold" : "cached") + (row.staysShort ? ", short" : ""));
    // Allocation number `fail` of this thread inside loadModel throws.
    const auto load = [&](long fail) {
      ::Run* run = nullptr;
      const auto loadCube = [&] { run = loadModel({"cube", row.rebuild, 0, 0}); };
      const CapturedOutput o = captureBoth([&] { armedRun(fail, loadCube, row.staysShort); });
      return std::make_pair(run, o.err);
    };
    load(-1);  // counts only
    unloadModel();
    const long total = allocations;
    ASSERT_GT(total, 500);
    for (int q = 8; q < 80; q += row.stride) {  // from a fifth of the way on
      SCOPED_TRACE(q / 80.0);
      const auto [failed, err] = load(q * total / 80);
      EXPECT_EQ(failed, nullptr);
      EXPECT_EQ(currentRun, nullptr);
      EXPECT_EQ(Tetrahedron::trimPool(), 0u);  // its element slabs went with it
      EXPECT_EQ(err,
                "[Startup, loadModel] Error: Out of memory while loading model \"cube\"; it is not"
                " loaded (use a coarser mesh file or a lower LEVEL)\n");
      captureBoth([] { loadModel({"cube", false, 0, 0}); });
      ASSERT_NE(currentRun, nullptr);
      EXPECT_NE(currentRun->simulation, nullptr);
      armedRun(0, unloadModel, true);  // unloading allocates nothing
      EXPECT_EQ(allocations.load(), 0);
    }
  }
}

TEST(Startup, FlushDenormals) {
  volatile float tiny = 1e-30f;
  EXPECT_GT(tiny * 1e-10f, 0.0f);  // a denormal result
  flushDenormals();
  EXPECT_EQ(tiny * 1e-10f, 0.0f);
}
