#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "Capture.h"
#include "ProgressBar.h"
#include "ProgressBarRoute.h"

using zolt::test::captureStdout;

namespace {

// The window's bar stand-in: prints nothing, remembers that the maker made it.
class WindowBar : public ProgressBar {
 public:
  void finish() override {}
};

ProgressBar* makeWindowBar(const char* title, unsigned int total) {
  auto* bar = new WindowBar;
  bar->setTitle(title);
  bar->setTotal(total);
  return bar;
}

ProgressBar* makeNothing(const char*, unsigned int) { return nullptr; }

// What create() gives on the calling thread and the texts of one run of it.
struct Outcome {
  bool window = false;
  std::string text;
};

Outcome createAndRun() {
  Outcome o;
  o.text = captureStdout([&] {
    std::unique_ptr<ProgressBar> bar(ProgressBarRoute::create("Load", 2));
    o.window = dynamic_cast<WindowBar*>(bar.get()) != nullptr;
    bar->start();
    bar->step();
    bar->step();
    bar->finish();
  });
  return o;
}

Outcome onOtherThread() {
  Outcome o;
  std::thread t([&] { o = createAndRun(); });
  t.join();
  return o;
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
    bool installOnOtherThread;
    bool createOnOtherThread;
    bool window;
  } rows[] = {
      {"nothing installed, or the maker removed", nullptr, false, false, false},
      {"installed here, asked here", makeWindowBar, false, false, true},
      {"installed here, asked on another thread", makeWindowBar, false, true, false},
      {"installed on another thread, asked here", makeWindowBar, true, false, false},
      {"a maker that makes nothing", makeNothing, false, false, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    if (r.installOnOtherThread) {
      std::thread t([&] { ProgressBarRoute::installWindowMaker(r.maker); });
      t.join();
    } else {
      ProgressBarRoute::installWindowMaker(r.maker);
    }
    const Outcome o = r.createOnOtherThread ? onOtherThread() : createAndRun();
    EXPECT_EQ(o.window, r.window);
    EXPECT_EQ(o.text, r.window ? "" : kConsole);
    ProgressBarRoute::installWindowMaker(nullptr);
  }
}
