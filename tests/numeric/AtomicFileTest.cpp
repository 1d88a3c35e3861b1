#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "AtomicFile.h"
#include "TempDir.h"

using zolt::AtomicFile;
using zolt::test::readAll;
using zolt::test::TempDir;

namespace {

bool exists(const std::string& path) { return std::filesystem::exists(path); }

int filesIn(const TempDir& dir) {
  int n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path)) ++n;
  return n;
}

// Runs f with writes beyond `bytes` failing (EFBIG) instead of killing.
void underFileSizeLimit(rlim_t bytes, const std::function<void()>& f) {
  rlimit old, small;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  small = old;
  small.rlim_cur = bytes;
  auto handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  f();
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, handler);
}

}  // namespace

// The real name holds the old file until the new one is committed, and the
// old file whenever the new one fails; no temporary file stays behind.
TEST(AtomicFile, RealNameHoldsTheOldOrTheWholeNewFile) {
  const std::string big(100000, 'n');
  const struct {
    const char* what;
    std::function<bool(AtomicFile&)> end;
    bool newFile;
  } rows[] = {
      {"committed", [](AtomicFile& f) { return f.commit(); }, true},
      {"discarded",
       [](AtomicFile& f) {
         f.discard();
         return false;
       },
       false},
      {"destroyed", [](AtomicFile&) { return false; }, false},
      {"stream failed",
       [](AtomicFile& f) {
         f.stream().setstate(std::ios::badbit);
         return f.commit();
       },
       false},
      // Two writers of one file with one pid (this process; or processes
      // of other pid namespaces) used to share the temporary name, and the
      // first rename put a mix of both in place.
      {"another writer at once",
       [&](AtomicFile& f) {
         AtomicFile other(f.path());
         other.stream() << big;
         return other.commit() && readAll(f.path()) == big && f.commit();
       },
       true},
      {"file size limit",
       [&](AtomicFile& f) {
         bool ok = true;
         underFileSizeLimit(4096, [&] {
           ok = f.stream().write(big.data(), 4096).good() &&
                f.stream().write(big.data(), 4096).good() && f.commit();
         });
         return ok;
       },
       false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    TempDir dir;
    const std::string path = dir.write("cache", "old");
    bool committed;
    {
      AtomicFile f(path);
      ASSERT_TRUE(f.is_open());
      f.stream() << "new";
      EXPECT_EQ(readAll(path), "old");
      committed = r.end(f);
    }
    EXPECT_EQ(committed, r.newFile);
    EXPECT_EQ(readAll(path), r.newFile ? "new" : "old");
    EXPECT_EQ(filesIn(dir), 1);  // no temporary file left
  }
}

// A directory or another file that is not a regular one is never replaced.
TEST(AtomicFile, RefusesWhatIsNotARegularFile) {
  TempDir dir;
  mkdir(dir.file("d").c_str(), 0777);
  mkfifo(dir.file("p").c_str(), 0666);
  const struct {
    std::string path, why;
  } rows[] = {{dir.file("d"), "is a directory"},
              {dir.file("p"), "is not a regular file"},
              {dir.file("missing/f"), ""}};
  for (const auto& r : rows) {
    AtomicFile f(r.path);
    EXPECT_FALSE(f.is_open()) << r.path;
    EXPECT_EQ(f.why(), r.why);
    EXPECT_FALSE(f.commit());
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("d")));
}

// Several outputs: when one cannot be written none is put in place.
TEST(AtomicFile, CommitAllPutsEveryFileInPlaceOrNone) {
  for (bool secondFails : {false, true}) {
    TempDir dir;
    AtomicFile f[2];
    f[0].open(dir.file("a"));
    f[1].open(dir.file("b"));
    f[0].stream() << "A";
    f[1].stream() << "B";
    if (secondFails) f[1].stream().setstate(std::ios::failbit);
    EXPECT_EQ(AtomicFile::commitAll(f, 2), !secondFails);
    EXPECT_EQ(exists(dir.file("a")), !secondFails);
    EXPECT_EQ(exists(dir.file("b")), !secondFails);
    EXPECT_EQ(filesIn(dir), secondFails ? 0 : 2);
  }
}

// A writer killed half way leaves the old file under the real name.
TEST(AtomicFile, AWriterKilledMidWriteLeavesTheOldFile) {
  TempDir dir;
  const std::string path = dir.write("cache", "old");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    AtomicFile f(path);
    const std::string chunk(1 << 16, 'x');
    for (int i = 0;; ++i) {
      f.stream().write(chunk.data(), std::streamsize(chunk.size())).flush();
      if (i == 4 && write(ready[1], "w", 1) != 1) _exit(2);
    }
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(readAll(path), "old");
  std::string temp;
  const std::string prefix = "cache.tmp." + std::to_string(child) + ".";
  for (const auto& e : std::filesystem::directory_iterator(dir.path))
    if (e.path().filename().string().rfind(prefix, 0) == 0) temp = e.path().string();
  ASSERT_FALSE(temp.empty());
  EXPECT_GE(std::filesystem::file_size(temp), 5u << 16);  // it was writing
  close(ready[0]);
  close(ready[1]);
  // The next writer of the file clears the dead writer's leftover and
  // leaves a live one's (the parent's, here) alone.
  const std::string live = path + ".tmp." + std::to_string(getppid());
  dir.write("cache.tmp." + std::to_string(getppid()), "busy");
  AtomicFile next(path);
  next.stream() << "new";
  ASSERT_TRUE(next.commit());
  EXPECT_EQ(readAll(path), "new");
  EXPECT_FALSE(exists(temp));
  EXPECT_EQ(readAll(live), "busy");
}
