#pragma once
// The window program started in this process over a temporary directory
// with models/ and caches/: open() once the models are written.

#include <sys/stat.h>

#include <string>

#include "Capture.h"
#include "Run.h"
#include "TempDir.h"
#include "Window.h"

namespace zolt::test {

struct ProgramWindow {
  TempDir dir;
  ProgramWindow() {
    for (const char* d : {"models", "caches"}) mkdir(dir.file(d).c_str(), 0777);
  }
  std::string models() const { return dir.file("models/"); }
  void open() {
    modelsPath = models();
    cachesPath = dir.file("caches/");
    static char arg0[] = "zolt";
    static char* argv[] = {arg0, nullptr};
    captureStdout([] { initOpenGL(1, argv, modelsPath.c_str(), ".config"); });
  }
  void close() { captureStdout(shutdownGL); }
};

}  // namespace zolt::test
