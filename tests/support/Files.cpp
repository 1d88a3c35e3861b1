#include "Files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>

namespace zolt::test {

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

double monotonicSeconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + 1e-9 * t.tv_nsec;
}

void sleepSeconds(double s) { usleep(static_cast<useconds_t>(s * 1e6)); }

Program::Program(const std::string& dir, const std::vector<std::string>& args,
                 const std::vector<std::string>& env) {
  // Everything the child needs is made before the fork: a child of a
  // threaded process should only open, redirect and exec.
  const std::string outPath = io_.file("out"), errPath = io_.file("err");
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string& change : env) replaced |= change.substr(0, change.find('=')) == name;
    if (!replaced) environment.push_back(entry);
  }
  for (const std::string& change : env)
    if (change.find('=') != std::string::npos) environment.push_back(change);
  std::vector<char*> argv, envp;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  pid_ = fork();
  if (pid_ != 0) return;
  const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (out < 0 || err < 0 || chdir(dir.c_str()) != 0) _exit(127);
  dup2(out, STDOUT_FILENO);
  dup2(err, STDERR_FILENO);
  execvpe(argv[0], argv.data(), envp.data());
  _exit(127);
}

Program::~Program() {
  if (!exited()) end();
}

bool Program::exited() {
  if (status != -1 || pid_ <= 0) return true;
  int st = 0;
  if (waitpid(pid_, &st, WNOHANG) != pid_) return false;
  status = WIFEXITED(st) ? WEXITSTATUS(st) : -2;
  return true;
}

void Program::end() {
  kill(pid_, SIGTERM);
  for (int i = 0; i < 40 && !exited(); ++i) sleepSeconds(0.025);
  if (!exited()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  status = -2;
}

bool Program::waitForExit(double timeout) {
  const double end = monotonicSeconds() + timeout;
  while (!exited()) {
    if (timeout >= 0 && monotonicSeconds() >= end) {
      this->end();
      return false;
    }
    sleepSeconds(0.005);
  }
  return true;
}

std::string Program::out() const { return readFile(io_.file("out")); }
std::string Program::err() const { return readFile(io_.file("err")); }

ProgramResult runProgram(const std::string& dir, const std::vector<std::string>& args,
                         bool withoutDisplay) {
  Program p(dir, args,
            withoutDisplay ? std::vector<std::string>{"DISPLAY"} : std::vector<std::string>{});
  p.waitForExit();
  ProgramResult result;
  result.status = p.status < 0 ? -1 : p.status;
  result.out = p.out();
  result.err = p.err();
  return result;
}

}  // namespace zolt::test
