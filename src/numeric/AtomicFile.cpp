#include "AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "SealedFile.h"

namespace zolt {

bool AtomicFile::open(const std::string& path, std::ios::openmode mode) {
  discard();
  path_ = path;
  why_ = notAFile(path);
  if (!why_.empty()) {
    stream_.setstate(std::ios::failbit);
    return false;
  }
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
