#include "Threads.h"

#include <iostream>

#include "ZoltAssert.h"

Threads::CreateFn Threads::createThread = pthread_create;

Threads::~Threads() {
  if (running) {
    const int err = pthread_cancel(thread);
    if (err != 0)
      std::cerr << "[Threads, destructor] Error: Thread could not be canceled (Err: " << err << ")!"
                << std::endl;
  }
  destroySync();
  running = false;
}

bool Threads::start(Routine routine, void* arg) {
  ZOLT_ASSERT(!running);
  destroySync();
  pthread_mutex_init(&mutex, nullptr);
  pthread_cond_init(&cond, nullptr);
  syncReady = true;
  flag = 0;
  startError = createThread(&thread, nullptr, routine, arg);
  if (startError != 0) {
    // No thread: nothing to join or cancel later.
    running = false;
    return false;
  }
  running = true;
  return true;
}

void Threads::join() {
  if (running) {
    const int err = pthread_join(thread, nullptr);
    if (err != 0)
      std::cerr << "[Threads, join] Error: Thread could not be joined (Err: " << err << ")!"
                << std::endl;
  }
  destroySync();
  running = false;
}

// A holder whose fields were set up by hand (running set without start())
// still gets its mutex and condition variable destroyed.
void Threads::destroySync() {
  if (!running && !syncReady) return;
  pthread_mutex_destroy(&mutex);
  pthread_cond_destroy(&cond);
  syncReady = false;
}

int returnZeroStub() { return 0; }
