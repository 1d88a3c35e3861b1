#include "AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "SealedFile.h"

namespace zolt {

namespace {

std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

// Removes the temporary files of `path` that writers which are no longer
// running (killed half way) left behind. Plain readdir: the directory
// iterator's increment would end the process on a failed allocation.
void removeLeftovers(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + ".tmp.";
  DIR* d = ::opendir(directoryOf(path).c_str());
  if (!d) return;
  while (const dirent* e = ::readdir(d)) {
    const char* name = e->d_name;
    if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0) continue;
    const char* digits = name + prefix.size();
    char* end = nullptr;
    const long pid = std::strtol(digits, &end, 10);
    if (end == digits || (*end != '\0' && *end != '.') || pid <= 0 || pid > INT32_MAX) continue;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) ::unlinkat(::dirfd(d), name, 0);
  }
  ::closedir(d);
}

// Creates "<path>.tmp.<pid>.<n>" under a name no other writer holds (one
// of this process, or of another with the same pid in another namespace);
// empty when none can be made.
std::string createTemporary(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  const std::string stem = path + ".tmp." + std::to_string(::getpid()) + ".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = stem + std::to_string(counter.fetch_add(1)) + "-" +
                             std::to_string(std::random_device{}() % 100000);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return name;
    }
    if (errno != EEXIST) break;
  }
  return std::string();
}

// Makes a rename in the directory of `path` durable; best effort, as some
// file systems cannot sync a directory.
void syncDirectoryOf(const std::string& path) {
  const int fd = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

bool AtomicFile::open(const std::string& path, std::ios::openmode mode) {
  discard();
  path_ = path;
  why_ = notAFile(path);
  if (!why_.empty()) {
    stream_.setstate(std::ios::failbit);
    return false;
  }
  removeLeftovers(path);
  temp_ = createTemporary(path);
  stream_.clear();
  if (!temp_.empty()) stream_.open(temp_, mode | std::ios::out | std::ios::trunc);
  if (!stream_.is_open()) {
    discard();
    stream_.setstate(std::ios::failbit);
    return false;
  }
  return true;
}

bool AtomicFile::finish() {
  if (finished_) return true;
  if (temp_.empty()) return false;
  bool ok = stream_.is_open() && stream_.flush().good();
  stream_.close();
  ok = ok && !stream_.fail();
  if (ok) {
    // The data is on the disk before the new name points at it.
    const int fd = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
    ok = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) ok = ::close(fd) == 0 && ok;
  }
  if (!ok) discard();
  finished_ = ok;
  return ok;
}

bool AtomicFile::commit() {
  if (!finish()) return false;
  if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
    discard();
    return false;
  }
  syncDirectoryOf(path_);
  temp_.clear();
  finished_ = false;
  return true;
}

void AtomicFile::discard() {
  if (stream_.is_open()) stream_.close();
  if (!temp_.empty()) std::remove(temp_.c_str());
  temp_.clear();
  finished_ = false;
}

bool AtomicFile::commitAll(AtomicFile* files, size_t n) {
  bool ok = true;
  for (size_t i = 0; i < n; ++i) ok = files[i].finish() && ok;
  size_t renamed = 0;
  while (ok && renamed < n) ok = files[renamed++].commit();
  if (ok) return true;
  for (size_t i = 0; i < n; ++i) files[i].discard();
  // The last one tried failed and left its real name alone.
  for (size_t i = 0; i + 1 < renamed; ++i) std::remove(files[i].path().c_str());
  return false;
}

}  // namespace zolt
