#include "XSession.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "Files.h"

namespace zolt::test {

double monotonicSeconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + 1e-9 * t.tv_nsec;
}

void sleepSeconds(double s) { usleep(static_cast<useconds_t>(s * 1e6)); }

namespace {

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

// Ends a child: SIGTERM, then SIGKILL when it does not go.
void endChild(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 40; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    sleepSeconds(0.025);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

}  // namespace

XServer::XServer(const std::string& screen) {
  const std::string displayFile = dir_.file("display");
  pid_ = fork();
  if (pid_ == 0) {
    const int fd = open(displayFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int null = open("/dev/null", O_WRONLY);
    if (fd < 0 || null < 0) _exit(127);
    dup2(fd, 3);
    dup2(null, STDERR_FILENO);
    dup2(null, STDOUT_FILENO);
    execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten", "tcp",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 200 && pid_ > 0; ++i) {
    const std::string n = trimmed(readFile(displayFile));
    if (!n.empty()) {
      display = ":" + n;
      return;
    }
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    sleepSeconds(0.025);
  }
}

XServer::~XServer() { endChild(pid_); }

std::string XServer::run(const std::string& command) const {
  const std::string full = "DISPLAY=" + display + " " + command + " 2>/dev/null";
  std::string out;
  if (FILE* p = popen(full.c_str(), "r")) {
    char buf[256];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    pclose(p);
  }
  return out;
}

XProgram::XProgram(const XServer& server, const std::string& dir,
                   const std::vector<std::string>& args)
    : server_(server) {
  const std::string outPath = io_.file("out"), errPath = io_.file("err");
  pid_ = fork();
  if (pid_ == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || chdir(dir.c_str()) != 0) _exit(127);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    setenv("DISPLAY", server.display.c_str(), 1);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    // Mesa's unloaded modules look like leaks to LeakSanitizer.
    const char* asan = getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str(), 1);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
}

XProgram::~XProgram() {
  if (status == -1) endChild(pid_);
}

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

Image XProgram::screenshot() const {
  const std::string path = io_.file("shot.ppm");
  server_.run("import -window " + window_ + " -depth 8 ppm:" + path);
  return loadPPM(path);
}

bool XProgram::waitForExit(double timeout) {
  const double end = monotonicSeconds() + timeout;
  int st = 0;
  do {
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
      status = WIFEXITED(st) ? WEXITSTATUS(st) : -2;
      return true;
    }
    sleepSeconds(0.02);
  } while (monotonicSeconds() < end);
  endChild(pid_);
  status = -2;
  return false;
}

std::string XProgram::out() const { return readFile(io_.file("out")); }
std::string XProgram::err() const { return readFile(io_.file("err")); }

}  // namespace zolt::test
