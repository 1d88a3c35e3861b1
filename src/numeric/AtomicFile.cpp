#include "AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "SealedFile.h"

namespace zolt {

namespace {

// Removes the temporary files of `path` that writers which are no longer
// running (killed half way) left behind. Plain readdir: the directory
// iterator's increment would end the process on a failed allocation.
void removeLeftovers(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + ".tmp.";
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (const dirent* e = ::readdir(d)) {
    const char* name = e->d_name;
    if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0) continue;
    const char* digits = name + prefix.size();
    char* end = nullptr;
    const long pid = std::strtol(digits, &end, 10);
    if (end == digits || *end != '\0' || pid <= 0 || pid > INT32_MAX) continue;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) ::unlinkat(::dirfd(d), name, 0);
  }
  ::closedir(d);
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
  temp_ = path + ".tmp." + std::to_string(::getpid());
  stream_.clear();
  stream_.open(temp_, mode | std::ios::out | std::ios::trunc);
  if (!stream_.is_open()) {
    temp_.clear();
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
