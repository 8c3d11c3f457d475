// Failed writes of recordings, pictures and archives (a full disk, a file
// size limit, a folder gone). Every failure is logged in one line; the user
// sees one message box for a run of failures, not one per frame or per file,
// and the next box only after the storage keeper has seen space come back.
#pragma once

#include <functional>
#include <string>

namespace qmr {

// Logs logLine. When boxText is not empty and no box was shown since space
// last came back, shows boxText through the notifier. Any thread.
void ReportWriteFailure(const std::string& logLine, const std::string& boxText = std::string());

// Where the box goes (the main frame posts a message box; tests count).
// An empty function stops boxes. Any thread.
void SetWriteFailureNotifier(std::function<void(const std::string&)> notifier);

// Space is back: the next failure shows a box again.
void ResetWriteFailureNotice();

// "No space left on device" and the like for an errno value.
std::string ErrorText(int error);

}  // namespace qmr
