#include "AtomicFile.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "SealedFile.h"

namespace zolt {

namespace {

// Removes the temporary files of `path` that writers which are no longer
// running (killed half way) left behind.
void removeLeftovers(const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path p(path);
  const std::string prefix = p.filename().string() + ".tmp.";
  std::error_code ec;
  const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string digits = name.substr(prefix.size());
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      continue;
    const pid_t pid = static_cast<pid_t>(std::stol(digits));
    if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH) fs::remove(it->path(), ec);
  }
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
