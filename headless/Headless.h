// The headless face of the session: volnex --headless.
//
// The same session as the window's, on the same profile, with no display:
// each page result is one JSON line on standard output (the session log's
// objects), with --trace the protocol lines with their times on standard
// error or in a file, and every message box one line on standard error.
// The main thread runs a small job loop in place of the window system's:
// it serves the monitor thread's synchronous deliveries and ticks the
// session every 100 ms. SIGTERM and SIGINT end it as closing the window
// does (ESC EOT CR for a session in progress).
//
// Each page that is acknowledged has its record written to standard output
// first (or kept in the outbox, when pages are delivered onward): when
// standard output cannot take it, the page is refused, nothing later is
// acknowledged and the run ends (exit 1) with the reason on standard error.
// SIGHUP ends it as SIGTERM does.
//
// Exit status: 0 when at least one page result came and every page was in
// the end accepted (a block answered NAK and then sent again good counts as
// accepted), 1 when one was not or none came (or standard output failed),
// with one line per reason on standard error ("exit 1: page 3 (pager 1234)
// timed out after 2 blocks"), 2
// when the line could not be opened or standard output was closed, or when
// the profile cannot be used (a folder, unreadable, not text; or missing
// when --profile named it: the run would otherwise serve the defaults).
#pragma once

#include <string>

struct CCommandLine;

constexpr int kHeadlessAllAccepted = 0;
constexpr int kHeadlessNotAllAccepted = 1;
constexpr int kHeadlessLineFailed = 2;

// The profile file the program uses: --profile FILE, or the default one
// named after the executable.
std::string ProgramProfilePath(const CCommandLine& cmd);

// Descriptors 0, 1 and 2 that are not open are opened on /dev/null, so that
// nothing of the program's own (an event descriptor, a device) takes their
// number and receives what was meant for them. True when standard output
// was closed.
bool OpenStandardDescriptors();

// Runs the session as the command line asks, on the profile it names (or
// the default one), until it ends; returns the exit status.
int RunHeadless(const CCommandLine& cmd);
