#pragma once
// A file written under a temporary name next to its real one
// ("<path>.tmp.<pid>.<n>", a name no other writer holds) and renamed over
// the real name only once it is complete, flushed, synced and closed. A
// reader opens the old file or the new one, never a mix; a write that
// fails, or a process killed half way, leaves nothing under the real name
// (its temporary file is removed by the next writer of the file).

#include <cstddef>
#include <fstream>
#include <string>

namespace zolt {

class AtomicFile {
 public:
  AtomicFile() = default;
  explicit AtomicFile(const std::string& path, std::ios::openmode mode = std::ios::binary) {
    open(path, mode);
  }
  // Removes a temporary file that was not committed.
  ~AtomicFile() { discard(); }
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file for writing (any uncommitted one is
  // discarded first). False when path names a directory or another file
  // that is not a regular one, or the temporary file cannot be created;
  // why() then says which ("is a directory", ...), empty for the latter.
  bool open(const std::string& path, std::ios::openmode mode = std::ios::binary);
  bool is_open() const { return stream_.is_open(); }
  // Read and write: the simulation's cache code takes an fstream.
  std::fstream& stream() { return stream_; }
  const std::string& path() const { return path_; }
  const std::string& why() const { return why_; }

  // Flushes, syncs and closes the temporary file; false, with the file
  // removed, when it never opened or any write to it failed.
  bool finish();
  // finish(), then the rename over path; false when anything failed, and
  // then no temporary file is left and path is as it was.
  bool commit();
  // Closes and removes the temporary file.
  void discard();
  // All of the n files at `files` or none: every one is finished before the
  // first rename; when a rename fails, the files already renamed are
  // removed again.
  static bool commitAll(AtomicFile* files, size_t n);

 private:
  std::fstream stream_;
  std::string path_, temp_, why_;
  bool finished_ = false;
};

}  // namespace zolt
