#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "Capture.h"
#include "ProgressBar.h"
#include "ProgressBarRoute.h"

using zolt::test::captureStdout;

namespace {

// The window's bar stand-in: prints nothing.
class WindowBar : public ProgressBar {
 public:
  void finish() override {}
};

ProgressBar* makeWindowBar(const char*, unsigned int) { return new WindowBar; }
ProgressBar* makeNothing(const char*, unsigned int) { return nullptr; }

void on(bool otherThread, const std::function<void()>& f) {
  if (otherThread)
    std::thread(f).join();
  else
    f();
}

const std::string kConsole =
    "==>  Load    0.0 %\b\b\b\b\b\b\b 50.0 %\b\b\b\b\b\b\b100.0 %\b\b\b\b\b\b\b100.0 %\n";

}  // namespace

// Only the thread the window's maker was installed on gets its bars; every
// other thread, and every thread while none is installed, the console.
TEST(ProgressBarRoute, WindowBarsOnlyOnTheInstallingThread) {
  const struct {
    const char* name;
    ProgressBarRoute::Maker maker;
    bool installOnOtherThread, createOnOtherThread, window;
  } rows[] = {
      {"nothing installed, or the maker removed", nullptr, false, false, false},
      {"installed here, asked here", makeWindowBar, false, false, true},
      {"installed here, asked on another thread", makeWindowBar, false, true, false},
      {"installed on another thread, asked here", makeWindowBar, true, false, false},
      {"a maker that makes nothing", makeNothing, false, false, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    on(r.installOnOtherThread, [&] { ProgressBarRoute::installWindowMaker(r.maker); });
    bool window = false;
    std::string text;
    on(r.createOnOtherThread, [&] {
      text = captureStdout([&] {
        std::unique_ptr<ProgressBar> bar(ProgressBarRoute::create("Load", 2));
        window = dynamic_cast<WindowBar*>(bar.get()) != nullptr;
        bar->start();
        bar->step();
        bar->step();
        bar->finish();
      });
    });
    EXPECT_EQ(window, r.window);
    EXPECT_EQ(text, r.window ? "" : kConsole);
    ProgressBarRoute::installWindowMaker(nullptr);
  }
}
