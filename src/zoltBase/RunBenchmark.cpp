// Timing loops: the model is stepped for whole simulated seconds and each
// second is timed on the wall clock.

#include <sys/time.h>

#include <algorithm>
#include <iostream>

#include "Run.h"
#include "Simulation.h"

namespace {

double wallMilliseconds() {
  timeval t;
  gettimeofday(&t, nullptr);
  return (static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec)) / 1000.0;
}

}  // namespace

bool Run::timedSeconds(const char* method, int seconds,
                       const std::function<void(int second, double ms, int steps)>& report) {
  if (!simulation) {
    std::cout << "[Run, " << method << "] Error: Element model " << static_cast<int>(elementModel)
              << " creates no simulation; no timing" << std::endl;
    return false;
  }
  const int steps = framesPerSecond(settings.material->timeStep);
  double last = wallMilliseconds();
  for (int i = 0; seconds < 0 || i < seconds; ++i) {
    for (int s = 0; s < steps; ++s) simulation->computeStep(false, false, 0, false);
    if (i % 2 == 0)
      simulation->addGravity();
    else
      simulation->removeGravity();
    // Whole microseconds: a fast second must not divide by zero.
    const double now = wallMilliseconds();
    report(i, std::max(now - last, 1e-3), steps);
    last = now;
  }
  return true;
}

bool Run::benchmark(int seconds) {
  return timedSeconds("benchmark", seconds, [](int i, double ms, int steps) {
    const double ratio = 1000.0 / ms;
    std::cout << i << ". \tsimulation second:   \tratio = " << ratio
              << ";  \tfps = " << ratio * steps << std::endl;
  });
}

bool Run::printFps(int seconds) {
  return timedSeconds("printFps", seconds, [](int, double ms, int steps) {
    std::cout << steps * 1000.0 / ms << " fps" << std::endl;
  });
}
