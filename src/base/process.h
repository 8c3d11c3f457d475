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
// Replaces ApplicationFolder (and the log and media folders with it); for
// tests and for the process start only.
void SetApplicationFolder(const std::string& folder);

// The folder of the program file itself (never QMR_HOME; known before the
// folders are chosen): read-only files such as the help page and the default
// alarm sound are found there.
const std::string& ProgramFolder();
// Full path of a read-only runtime file shipped with the program: beside the
// program file, else in the installed data folder (../share/qmr). Returns the
// path beside the program when the file is found nowhere.
std::string ProgramResourcePath(const std::string& name);

// The folders the program writes to, chosen once at start.
//  - Build tree (a CMakeCache.txt beside the program file) or QMR_HOME set:
//    everything in the one home folder, as always.
//  - Installed: settings and archives in $XDG_CONFIG_HOME/qmr, the log in
//    $XDG_STATE_HOME/qmr, the default AVI and PIC folders in the user's
//    videos folder under Quelmar/.
struct FolderChoice {
  std::string home;   // ApplicationFolder: settings file, archives
  std::string log;    // the log file's folder
  std::string media;  // parent of the default AVI and PIC folders
  bool installed = false;
};

// What the choice depends on; each environment value may be empty.
struct FolderInputs {
  std::string programFolder;
  bool buildTree = false;
  std::string qmrHome;        // QMR_HOME
  std::string userHome;       // HOME
  std::string xdgConfigHome;  // XDG_CONFIG_HOME
  std::string xdgStateHome;   // XDG_STATE_HOME
  std::string workingFolder;  // for a relative QMR_HOME
};

// Pure: no file is read or created. The videos folder comes from
// user-dirs.dirs in the configuration folder (what xdg-user-dir VIDEOS
// reads), else ~/Videos.
FolderChoice ChooseFolders(const FolderInputs& in);
// The XDG_VIDEOS_DIR value of a user-dirs.dirs text, with $HOME expanded;
// empty when the text names none (or names the home folder itself, which
// means the folder is switched off).
std::string VideosFolderFromUserDirs(const std::string& text, const std::string& userHome);

// The folder of the log file (ApplicationFolder unless installed).
const std::string& LogFolder();
// The parent of the default AVI and PIC folders (ApplicationFolder unless
// installed).
const std::string& MediaFolder();
// True when the program runs installed (not from a build tree, no QMR_HOME).
bool RunsInstalled();

// Creates the folder (and its parents) when missing and checks that a file
// can be written in it. On failure returns false and a one-line reason.
bool EnsureWritableFolder(const std::string& folder, std::string& problem);

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
