#include "ProgressBar.h"

#include <cstdio>

void ProgressBar::setTotal(unsigned int n) { total = n == 0 ? 1 : n; }

void ProgressBar::setTitle(const char* s) { title = s; }

void ProgressBar::start() {
  count = 0;
  lastShown = 0.0f;
  percent = 0.0f;
}

void ProgressBar::step() {
  ++count;
  percent = static_cast<float>(count) * 100.0f / static_cast<float>(total);
}

void ProgressBarIO::printStart(const char* title) {
  std::printf("==>  %s    0.0 %%", title ? title : "(null)");
}

void ProgressBarIO::printPercent(float percent) {
  std::printf("\b\b\b\b\b\b\b%5.1f %%", static_cast<double>(percent));
}

void ProgressBarIO::printFinish() { std::printf("\b\b\b\b\b\b\b100.0 %%\n"); }

void ProgressBarIO::start() {
  ProgressBar::start();
  printStart(title);
}

void ProgressBarIO::step() {
  ProgressBar::step();
  if (percent - lastShown >= 0.1f) {
    printPercent(percent);
    lastShown = percent;
  }
}

void ProgressBarIO::finish() { printFinish(); }
