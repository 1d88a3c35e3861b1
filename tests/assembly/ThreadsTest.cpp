#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "Files.h"
#include "Threads.h"

using zolt::test::statusBytes;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__clang__) && defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

int failWithEagain(pthread_t*, const pthread_attr_t*, Threads::Routine, void*) { return EAGAIN; }

// Replaces the thread creation for one scope.
struct FailingCreation {
  FailingCreation() { Threads::createThread = failWithEagain; }
  ~FailingCreation() { Threads::createThread = pthread_create; }
};

// The protocol of the frame hand-off: the caller sets flag to 1, the thread
// answers by setting it back to 0 under the holder's mutex.
void* answerOnce(void* arg) {
  auto* t = static_cast<Threads*>(arg);
  pthread_mutex_lock(&t->mutex);
  while (t->flag != 1) pthread_cond_wait(&t->cond, &t->mutex);
  t->flag = 0;
  pthread_cond_signal(&t->cond);
  pthread_mutex_unlock(&t->mutex);
  return nullptr;
}

std::atomic<int> ran{0};
void* countRun(void*) {
  ++ran;
  pthread_exit(nullptr);
}

// Runs until cancelled; sleep is a cancellation point.
void* sleepForever(void*) {
  for (;;) sleep(1);
  return nullptr;
}

}  // namespace

TEST(Threads, DefaultHolderIsNotRunning) {
  Threads t;
  EXPECT_FALSE(t.running);
  EXPECT_FALSE(t.syncReady);
}

TEST(Threads, StartRunsTheRoutineAndJoinWaitsForIt) {
  ran = 0;
  Threads t;
  ASSERT_TRUE(t.start(countRun, nullptr));
  EXPECT_TRUE(t.running);
  EXPECT_EQ(t.flag, 0);
  t.join();
  EXPECT_FALSE(t.running);
  EXPECT_FALSE(t.syncReady);
  EXPECT_EQ(ran.load(), 1);
  // A holder can be started again after the join.
  ASSERT_TRUE(t.start(countRun, nullptr));
  t.join();
  EXPECT_EQ(ran.load(), 2);
}

TEST(Threads, MutexConditionAndFlagServeAHandOff) {
  Threads t;
  t.flag = 7;
  ASSERT_TRUE(t.start(answerOnce, &t));
  EXPECT_EQ(t.flag, 0);  // start resets the flag
  pthread_mutex_lock(&t.mutex);
  t.flag = 1;
  pthread_cond_signal(&t.cond);
  while (t.flag != 0) pthread_cond_wait(&t.cond, &t.mutex);
  pthread_mutex_unlock(&t.mutex);
  t.join();
  EXPECT_FALSE(t.running);
}

TEST(Threads, FailedStartReportsAndLeavesNothingToJoin) {
  Threads t;
  {
    FailingCreation failing;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(t.start(countRun, nullptr));
    // The caller decides what the failure means: the holder says nothing.
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  }
  EXPECT_EQ(t.startError, EAGAIN);
  EXPECT_FALSE(t.running);
  // The mutex stays usable for a caller that does the work itself.
  EXPECT_TRUE(t.syncReady);
  EXPECT_EQ(pthread_mutex_lock(&t.mutex), 0);
  EXPECT_EQ(pthread_mutex_unlock(&t.mutex), 0);
  // No join of a thread that never ran: nothing on standard error.
  testing::internal::CaptureStderr();
  t.join();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(t.running);
  EXPECT_FALSE(t.syncReady);
}

TEST(Threads, DestructorAfterFailedStartCancelsNothing) {
  testing::internal::CaptureStderr();
  {
    Threads t;
    FailingCreation failing;
    t.start(countRun, nullptr);
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("destructor"), std::string::npos) << err;
}

TEST(Threads, DestructorCancelsARunningThread) {
  pthread_t handle;
  {
    Threads t;
    ASSERT_TRUE(t.start(sleepForever, nullptr));
    handle = t.thread;
    testing::internal::CaptureStderr();
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  void* result = nullptr;
  ASSERT_EQ(pthread_join(handle, &result), 0);
  EXPECT_EQ(result, PTHREAD_CANCELED);
}

TEST(Threads, ReturnZeroStubDoesNothing) { EXPECT_EQ(returnZeroStub(), 0); }

// A joined thread leaves no address space behind (glibc would keep its
// stack cached for the next thread), nor does a thread that could not start.
TEST(Threads, AJoinedOrFailedThreadLeavesNoAddressSpaceMapped) {
  if (kSanitized) GTEST_SKIP() << "the sanitizers map records of their own for each thread";
  auto returnAtOnce = [](void*) -> void* { return nullptr; };
  const uint64_t before = statusBytes("VmSize:");
  Threads t;
  for (bool fail : {false, true, false}) {
    if (fail) {
      FailingCreation failing;
      EXPECT_FALSE(t.start(returnAtOnce, nullptr));
    } else {
      ASSERT_TRUE(t.start(returnAtOnce, nullptr));
    }
    t.join();
    EXPECT_EQ(statusBytes("VmSize:"), before) << (fail ? "failed start" : "joined");
  }
}
