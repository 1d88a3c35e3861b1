#pragma once
// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace zolt::test {

struct TempDir {
  std::filesystem::path path;

  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zoltTestXXXXXX").string();
    if (mkdtemp(tmpl.data())) path = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The path of a file in the directory, with a trailing "/" for "".
  std::string file(const std::string& name) const { return (path / name).string(); }

  // Writes bytes to a file in the directory; returns its path.
  std::string write(const std::string& name, const std::string& bytes) const {
    const std::string f = file(name);
    std::ofstream(f, std::ios::binary) << bytes;
    return f;
  }
};

// The whole content of a file; empty when it cannot be read.
inline std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace zolt::test
