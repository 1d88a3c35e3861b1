#include "XSession.h"

#include <cstdlib>
#include <sstream>

namespace zolt::test {

namespace {

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

// Mesa's unloaded modules look like leaks to LeakSanitizer.
std::string withoutLeakChecks() {
  const char* asan = std::getenv("ASAN_OPTIONS");
  return "ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":detect_leaks=0";
}

}  // namespace

// The server writes its display number on standard output once it listens.
XServer::XServer(const std::string& screen)
    : server_("/", {"Xvfb", "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp"}) {
  for (int i = 0; i < 200 && !server_.exited(); ++i) {
    const std::string n = trimmed(server_.out());
    if (!n.empty()) {
      display = ":" + n;
      return;
    }
    sleepSeconds(0.025);
  }
}

std::string XServer::run(const std::string& command) const {
  Program p("/", {"/bin/sh", "-c", command}, {"DISPLAY=" + display});
  p.waitForExit();
  return p.out();
}

XProgram::XProgram(const XServer& server, const std::string& dir,
                   const std::vector<std::string>& args)
    : Program(dir, args,
              {"DISPLAY=" + server.display, "LIBGL_ALWAYS_SOFTWARE=1", withoutLeakChecks()}),
      server_(server) {}

std::string XProgram::waitForWindow(const std::string& prefix, double timeout) {
  const double end = monotonicSeconds() + timeout;
  do {
    std::istringstream ids(server_.run("xdotool search --name '^" + prefix + "'"));
    if (ids >> window_) return window_;
    sleepSeconds(0.05);
  } while (monotonicSeconds() < end);
  return "";
}

std::string XProgram::title() const {
  return window_.empty() ? "" : trimmed(server_.run("xdotool getwindowname " + window_));
}

WindowGeometry XProgram::geometry() const {
  WindowGeometry g;
  if (window_.empty()) return g;
  std::istringstream in(server_.run("xdotool getwindowgeometry --shell " + window_));
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string k = line.substr(0, eq);
    const int v = std::atoi(line.c_str() + eq + 1);
    if (k == "X") g.x = v;
    if (k == "Y") g.y = v;
    if (k == "WIDTH") g.width = v;
    if (k == "HEIGHT") g.height = v;
  }
  return g;
}

void XProgram::key(const std::string& keys) const {
  server_.run("xdotool key --window " + window_ + " " + keys);
}

void XProgram::xdotool(std::string commands) const {
  for (size_t at = commands.find("%w"); at != std::string::npos; at = commands.find("%w", at))
    commands.replace(at, 2, window_);
  server_.run("xdotool " + commands);
}

Image XProgram::screenshot() const {
  if (window_.empty()) return {};
  return screenshotWindow(server_.display, std::strtoul(window_.c_str(), nullptr, 10));
}

}  // namespace zolt::test
