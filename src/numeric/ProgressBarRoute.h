#pragma once
// Where the progress bars of long computations come from. A program with a
// window installs a maker for its window bars on the thread that holds the
// OpenGL context; a bar asked for on that thread comes from the maker, a bar
// asked for on any other thread, or while no maker is installed, prints on
// the console. So no thread but the window's ever gets a bar that draws.

class ProgressBar;

class ProgressBarRoute {
 public:
  using Maker = ProgressBar* (*)(const char* title, unsigned int total);

  // Binds maker to the calling thread; null removes the maker.
  static void installWindowMaker(Maker maker);
  // A new bar with title (not copied) and total; the caller deletes it.
  static ProgressBar* create(const char* title, unsigned int total);

 private:
  static ProgressBar* createConsole(const char* title, unsigned int total);
};
