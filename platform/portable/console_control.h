// The console control handler that SetConsoleCtrlHandler installs, and the
// POSIX signals that stand in for the console's events: SIGINT is
// CTRL_C_EVENT, SIGTERM is CTRL_BREAK_EVENT.
#pragma once

#include "platform/portable/windows_types.h"

// Installs (add TRUE) or removes (add FALSE, the handler installed) the
// handler, and catches SIGINT and SIGTERM for it. Windows' null handler,
// "ignore Ctrl+C", is not needed off Windows and answers FALSE.
BOOL setConsoleControlHandler(PHANDLER_ROUTINE handler, BOOL add);

// Hands a console control event to the installed handler at once, as the
// console does; false when there is no handler or it declined. Safe to call
// from a signal handler.
bool raiseConsoleControlEvent(DWORD controlType);

// No handler from now on, the signals left caught (for in-process tests).
void forgetConsoleControlHandler();

// SIGPIPE ignored, so that writing to a closed pipe (standard output, or the
// server's socket) gives a short write or an error instead of ending the
// process. Safe to call any number of times.
void ignoreBrokenPipes();
