#include "StepWorker.h"

#include <iostream>

namespace {
// Step request values; the worker ends on kQuit.
constexpr int kIdle = 0;
constexpr int kStep = 1;
constexpr int kQuit = -1;
}  // namespace

bool StepWorker::start(FrameParts* parts) {
  parts_ = parts;
  if (threads_.start(&StepWorker::main, this)) return true;
  std::cerr << "[StepWorker, start] Warning: The step thread could not be created (Err: "
            << threads_.startError << "); frames step on this thread" << std::endl;
  return false;
}

void* StepWorker::main(void* self) {
  auto* w = static_cast<StepWorker*>(self);
  Threads& t = w->threads_;
  for (;;) {
    pthread_mutex_lock(&t.mutex);
    while (t.flag == kIdle) pthread_cond_wait(&t.cond, &t.mutex);
    const bool quit = t.flag == kQuit;
    pthread_mutex_unlock(&t.mutex);
    if (quit) return nullptr;
    w->parts_->step();
    w->post(kIdle);
  }
}

void StepWorker::post(int request) {
  pthread_mutex_lock(&threads_.mutex);
  threads_.flag = request;
  pthread_cond_signal(&threads_.cond);
  pthread_mutex_unlock(&threads_.mutex);
}

void StepWorker::waitForStep() {
  pthread_mutex_lock(&threads_.mutex);
  while (threads_.flag != kIdle) pthread_cond_wait(&threads_.cond, &threads_.mutex);
  pthread_mutex_unlock(&threads_.mutex);
}

void StepWorker::frame(bool useWorker) {
  if (useWorker && running()) {
    parts_->prepare();
    post(kStep);
    parts_->present(true);
    waitForStep();
    return;
  }
  if (parts_) {
    parts_->step();
    parts_->prepare();
    parts_->present(false);
  }
}

void StepWorker::stop() {
  if (!running()) return;
  waitForStep();
  post(kQuit);
  threads_.join();
}
