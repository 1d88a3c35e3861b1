#include "ProgressBarRoute.h"

#include <mutex>
#include <thread>

#include "ProgressBar.h"

namespace {

std::mutex routeMutex;
ProgressBarRoute::Maker windowMaker = nullptr;  // guarded by routeMutex
std::thread::id windowThread;                   // guarded by routeMutex

}  // namespace

void ProgressBarRoute::installWindowMaker(Maker maker) {
  std::lock_guard<std::mutex> lock(routeMutex);
  windowMaker = maker;
  windowThread = maker ? std::this_thread::get_id() : std::thread::id();
}

ProgressBar* ProgressBarRoute::create(const char* title, unsigned int total) {
  Maker maker = nullptr;
  {
    std::lock_guard<std::mutex> lock(routeMutex);
    if (windowThread == std::this_thread::get_id()) maker = windowMaker;
  }
  ProgressBar* bar = maker ? maker(title, total) : nullptr;
  return bar ? bar : createConsole(title, total);
}

ProgressBar* ProgressBarRoute::createConsole(const char* title, unsigned int total) {
  auto* bar = new ProgressBarIO;
  bar->setTitle(title);
  bar->setTotal(total);
  return bar;
}
