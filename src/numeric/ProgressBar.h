#pragma once
// Progress of a long computation. The driver creates a bar, calls start(),
// the computation calls step() once per unit of work (through a pointer that
// may be null), and the driver calls finish().

#include <thread>

class ProgressBar {
 public:
  unsigned int total = 1;       // steps that make 100 %; never 0 after setTotal
  unsigned int count = 0;       // steps done
  float lastShown = 0.0f;       // percentage at the last visible update
  float percent = 0.0f;         // count * 100 / total in single precision
  const char* title = nullptr;  // not owned, may be null

  virtual ~ProgressBar() = default;
  virtual void setTotal(unsigned int n);
  virtual void setTitle(const char* s);
  virtual void start();
  virtual void finish() = 0;
  virtual void step();
};

// Console percentage, overwritten in place with backspaces.
class ProgressBarIO : public ProgressBar {
 public:
  void start() override;
  void step() override;
  void finish() override;

  // The console texts, shared with the GL bar's console mode.
  static void printStart(const char* title);
  static void printPercent(float percent);
  static void printFinish();
};

// A pie disc drawn into the current GLUT window; the console texts when no
// window existed at construction or the constructing thread held no OpenGL
// context. Only the constructing thread draws: a call from any other thread
// prints the console texts instead.
class ProgressBarGL : public ProgressBar {
 public:
  static constexpr int kFanVertices = 102;

  float* fanVertices;  // owned: 102 points (centre, then 101 rim points)
  bool graphic;        // a window and its context existed at construction

  ProgressBarGL(const char* title, unsigned int total);
  ~ProgressBarGL() override;
  ProgressBarGL(const ProgressBarGL&) = delete;
  ProgressBarGL& operator=(const ProgressBarGL&) = delete;

  void start() override;
  void step() override;
  void finish() override;

  // A new bar, for ProgressBarRoute::installWindowMaker.
  static ProgressBar* make(const char* title, unsigned int total);

 private:
  // graphic, and called on the constructing thread.
  bool drawsHere() const;
  void drawDisc(int vertices);
  void drawTitle();

  std::thread::id owner;  // the constructing thread
};
