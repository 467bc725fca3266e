#pragma once

// Checked thread contracts. Where a header says "main thread only", the
// function begins with FERROWICK_MAIN_THREAD(); debug and test builds then
// abort with the function's name when it runs on another thread. Release
// builds (NDEBUG) check nothing.
namespace platform {

// The main thread is the one that installed the current main-queue poster
// (the window's event loop, or a test's queue). Before any poster is
// installed there is no main thread yet, and every thread counts as it.
[[nodiscard]] bool isMainThread();

// Prints "<function>: main thread only, called on another thread" and aborts.
[[noreturn]] void mainThreadViolated(const char* function);

}  // namespace platform

#ifdef NDEBUG
#define FERROWICK_MAIN_THREAD() ((void)0)
#else
#define FERROWICK_MAIN_THREAD() (::platform::isMainThread() ? (void)0 : ::platform::mainThreadViolated(__func__))
#endif
