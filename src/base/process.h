// Process-wide services shared by every thread: the stop request, the
// program's folders, thread start, clocks and the time-stamp text.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace qmr {

// Set to 1 to ask every worker thread to end. Written by the quit command or a
// stop signal; polled by every worker loop.
extern std::atomic<int> StopFlag;

// The path separator of this platform.
constexpr char kPathSeparator = '/';

// The folder where the program writes its files (settings, log, archives,
// default AVI and PIC folders), without a trailing separator: the folder of
// the running program, or the folder named by QMR_HOME.
const std::string& ApplicationFolder();
// Replaces ApplicationFolder; for tests and for the process start only.
void SetApplicationFolder(const std::string& folder);

// The folder of the program file itself (never QMR_HOME): read-only files
// such as the help page and the default alarm sound are found there.
const std::string& ProgramFolder();
// Full path of a read-only runtime file shipped with the program: beside the
// program file, else in the installed data folder (../share/qmr). Returns the
// path beside the program when the file is found nowhere.
std::string ProgramResourcePath(const std::string& name);

// Process start: clears StopFlag, fills ApplicationFolder and ProgramFolder
// and installs the SIGINT/SIGTERM handlers (which only set StopFlag).
void ProcessStart();
void InstallStopSignals();

// A running thread's handle: non-zero while the thread runs. The thread clears
// it as its very last act, so an owner waits for it to become 0.
using ThreadHandle = std::atomic<std::uint64_t>;
using ThreadFunction = void (*)(void* argument);

// Starts function(argument) on a new detached thread with a 1 MiB stack. The
// handle is set before the thread can run and cleared when the function
// returns. False when the thread could not be started (handle left 0).
bool StartThread(ThreadFunction function, void* argument, ThreadHandle& handle);

// Waits until handle is 0, polling every 20 ms, at most timeoutMs. On time-out
// writes a log entry naming the thread and returns false.
bool WaitForThreadEnd(const ThreadHandle& handle, int timeoutMs, const char* threadName);

// Milliseconds from a monotonic clock, wrapping at 32 bits like a tick counter.
std::uint32_t TickCount();
// Sleeps for the given milliseconds (nothing for 0 or less).
void SleepMs(int ms);

// Local time, field by field (dayOfWeek 0 = Sunday).
struct SystemTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t dayOfWeek = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;
};
SystemTime GetLocalTime();

// The time stamp text drawn on pictures and written into recordings:
// "%02d/%02d %02d:%02d:%02d:%03d" (month, day, hour, minute, second, ms).
std::string FormatStampText(const SystemTime& t);

// Trims space characters (code 32 only) at both ends.
std::string TrimSpaces(const std::string& text);
// Lower-cases ASCII A to Z only.
std::string LowerAscii(const std::string& text);

}  // namespace qmr
