#include "Threads.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "ZoltAssert.h"

Threads::CreateFn Threads::createThread = pthread_create;

Threads::~Threads() {
  if (running) {
    stack = nullptr;  // a cancelled thread may still run on it
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
  running = false;
  pthread_attr_t attr;
  if ((startError = pthread_attr_init(&attr)) != 0) return false;
  startError = pthread_attr_getstacksize(&attr, &stackBytes);
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  if (startError == 0) {
    void* s = mmap(nullptr, stackBytes, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    stack = s == MAP_FAILED ? nullptr : s;
    if (!stack) startError = EAGAIN;
  }
  // The lowest page guards against an overflow.
  if (startError == 0 && mprotect(stack, page, PROT_NONE) != 0) startError = errno;
  if (startError == 0) startError = pthread_attr_setstack(&attr, stack, stackBytes);
  if (startError == 0) startError = createThread(&thread, &attr, routine, arg);
  pthread_attr_destroy(&attr);
  if (startError != 0) {
    // No thread: nothing to join or cancel later.
    releaseStack();
    return false;
  }
  running = true;
  return true;
}

void Threads::join() {
  if (running) {
    const int err = pthread_join(thread, nullptr);
    if (err != 0) {
      std::cerr << "[Threads, join] Error: Thread could not be joined (Err: " << err << ")!"
                << std::endl;
      stack = nullptr;  // it may still run on it
    }
  }
  releaseStack();
  destroySync();
  running = false;
}

void Threads::releaseStack() {
  if (stack) munmap(stack, stackBytes);
  stack = nullptr;
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
