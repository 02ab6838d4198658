// Where a conversion tells what it does: the status line ("Can't open ..."),
// the warnings about the recording, and the message pump it serves at the
// start of every channel step. The run driver gives the loop one: the Windows
// program's status dialog, or standard error on Linux; a tool may keep them.
// A procedure left empty is not called.
#pragma once

#include <functional>
#include <string>

#include "convert/run_warnings.h"

struct StatusSink {
    std::function<void(const std::string& text)> status;
    std::function<void(const RunWarning& warning)> warning;
    std::function<void()> pump;
};
