#pragma once
// Holder of one POSIX thread with a mutex, a condition variable and a flag
// for the user's protocol. A default holder is not running and has nothing
// initialised. The mutex and the condition variable exist from start() to
// join() or the destructor.

#include <pthread.h>

#include <cstddef>
#include <new>

class Threads {
 public:
  using Routine = void* (*)(void*);
  using CreateFn = int (*)(pthread_t*, const pthread_attr_t*, Routine, void*);

  bool running = false;  // started and not yet joined or cancelled
  pthread_t thread;
  pthread_mutex_t mutex;
  pthread_cond_t cond;
  int flag;
  // start() initialised mutex and cond and nothing has destroyed them yet;
  // also true after a failed start, whose caller may still lock the mutex.
  bool syncReady = false;

  // How start() creates the thread; tests replace it to make it fail.
  static CreateFn createThread;

  Threads() = default;
  // Cancels a thread that still runs.
  ~Threads();
  Threads(const Threads&) = delete;
  Threads& operator=(const Threads&) = delete;

  // pthread's error of the last start() that failed; 0 after one that ran.
  int startError = 0;

  // Initialises mutex and cond, sets flag to 0 and runs routine(arg) on a new
  // thread. Returns whether the thread runs; on failure it prints nothing
  // (the caller says what the failure means, if anything), sets startError,
  // stays not running and leaves the mutex usable, so the caller can do the
  // thread's work itself.
  bool start(Routine routine, void* arg);
  // Waits for a running thread, then destroys mutex and cond.
  void join();

 private:
  void destroySync();
  void releaseStack();
  // The thread's stack, mapped by start() and unmapped by join(): glibc
  // would keep a stack of its own cached after the join, address space a
  // later load under a memory limit could not use.
  void* stack = nullptr;
  size_t stackBytes = 0;
};

// Runs callerPart while a worker runs, then calls join(); a
// std::bad_alloc of the caller is thrown on after the join, and so is one
// the worker recorded in *workerOutOfMemory (cleared here).
template <class Join, class F>
void runBesideWorker(Join join, bool* workerOutOfMemory, F callerPart) {
  try {
    callerPart();
  } catch (const std::bad_alloc&) {
    join();
    throw;
  }
  join();
  if (*workerOutOfMemory) {
    *workerOutOfMemory = false;
    throw std::bad_alloc();
  }
}

// The display's synchronisation hook before a buffer swap; does nothing.
int returnZeroStub();
