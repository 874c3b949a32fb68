// The console control handler on POSIX signals, SIGPIPE, the sleep and the
// performance counter.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/core_audio.h"

namespace {

std::atomic<int> calls{0};
std::atomic<DWORD> lastControlType{0xFFFF};

BOOL WINAPI acceptingHandler(DWORD controlType) {
  lastControlType.store(controlType);
  calls.fetch_add(1);
  return TRUE;
}

BOOL WINAPI decliningHandler(DWORD) { return FALSE; }

double secondsBetween(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

TEST(ConsoleControl, SigintAndSigtermReachTheHandlerAndTheProcessGoesOn) {
  ASSERT_EQ(SetConsoleCtrlHandler(acceptingHandler, TRUE), TRUE);
  const struct {
    int signalNumber;
    DWORD controlType;
  } cases[] = {{SIGINT, CTRL_C_EVENT}, {SIGTERM, CTRL_BREAK_EVENT}};
  for (const auto& c : cases) {
    const int before = calls.load();
    ASSERT_EQ(raise(c.signalNumber), 0);
    EXPECT_EQ(calls.load(), before + 1) << c.signalNumber;
    EXPECT_EQ(lastControlType.load(), c.controlType) << c.signalNumber;
  }
  ASSERT_EQ(SetConsoleCtrlHandler(acceptingHandler, FALSE), TRUE);
}

TEST(ConsoleControl, AHandlerThatDeclinesLeavesTheSignalItsDefaultEffect) {
  EXPECT_EXIT(
      {
        SetConsoleCtrlHandler(decliningHandler, TRUE);
        raise(SIGTERM);
        std::exit(0);
      },
      testing::KilledBySignal(SIGTERM), "");
}

TEST(ConsoleControl, AClosedPipeGivesAShortWriteInsteadOfEndingTheProcess) {
  EXPECT_EXIT(
      {
        SetConsoleCtrlHandler(acceptingHandler, TRUE);
        int ends[2];
        if (pipe(ends) != 0) std::exit(2);
        close(ends[0]);
        std::FILE* stream = fdopen(ends[1], "wb");
        static char block[65536];
        const std::size_t written = std::fwrite(block, 1, sizeof block, stream);
        const int flushed = std::fflush(stream);
        std::exit(written < sizeof block || (flushed != 0 && errno == EPIPE) ? 7 : 1);
      },
      testing::ExitedWithCode(7), "");
}

TEST(ConsoleControl, CoInitializeAloneAlreadyIgnoresBrokenPipes) {
  // The listing writes to standard output without installing a handler.
  EXPECT_EXIT(
      {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        int ends[2];
        if (pipe(ends) != 0) std::exit(2);
        close(ends[0]);
        std::exit(write(ends[1], "x", 1) < 0 && errno == EPIPE ? 7 : 1);
      },
      testing::ExitedWithCode(7), "");
}

TEST(Clock, TheCounterRunsAtItsStatedRateAndNeverBackwards) {
  LARGE_INTEGER frequency;
  ASSERT_EQ(QueryPerformanceFrequency(&frequency), TRUE);
  EXPECT_EQ(frequency.QuadPart, 1'000'000'000);
  LARGE_INTEGER previous;
  QueryPerformanceCounter(&previous);
  for (int i = 0; i < 100000; ++i) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    ASSERT_GE(now.QuadPart, previous.QuadPart);
    previous = now;
  }
  const auto wallBegin = std::chrono::steady_clock::now();
  LARGE_INTEGER begin;
  QueryPerformanceCounter(&begin);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  LARGE_INTEGER end;
  QueryPerformanceCounter(&end);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBegin).count();
  EXPECT_NEAR(secondsBetween(begin, end), wall, 0.002);
}

TEST(Clock, SleepLastsAtLeastItsTimeEvenWhenASignalArrives) {
  SetConsoleCtrlHandler(acceptingHandler, TRUE);
  const pthread_t sleeper = pthread_self();
  const int before = calls.load();  // before the signal can be on its way
  std::thread interrupter([sleeper] {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    pthread_kill(sleeper, SIGINT);
  });
  LARGE_INTEGER begin;
  QueryPerformanceCounter(&begin);
  Sleep(60);
  LARGE_INTEGER end;
  QueryPerformanceCounter(&end);
  interrupter.join();
  EXPECT_EQ(calls.load(), before + 1);
  EXPECT_GE(secondsBetween(begin, end), 0.060);
  SetConsoleCtrlHandler(acceptingHandler, FALSE);
}

}  // namespace
