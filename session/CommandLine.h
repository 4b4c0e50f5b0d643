// The command line of volnex.
//
// The program ignores its arguments except --help, --version,
// --profile FILE and the headless options (--headless, --trace [FILE],
// --exit-after N, --timeout SECONDS). The parse happens before any window, display or
// device is touched, so that --help and --version (and a wrong option) print and end
// the program on a machine without a display and with the line untouched.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

enum class CommandAction {
    kRun,        // start the program
    kHelp,       // print the usage, exit 0
    kVersion,    // print the version, exit 0
    kUsageError, // print strError and the usage on stderr, exit 2
};

struct CCommandLine {
    CommandAction action = CommandAction::kRun;
    std::string strProfile; // --profile FILE as given; empty: the default profile
    std::string strError;   // what is wrong, for kUsageError
    // --headless: the session without a window, pages on standard output.
    bool bHeadless = false;
    bool bTrace = false;     // --trace: the protocol lines with their times
    std::string strTrace;    // --trace FILE; empty: standard error
    int nExitAfter = 0;      // --exit-after N page results; 0: no limit
    int nTimeoutSeconds = 0; // --timeout SECONDS; 0: no limit
    // --outbox: the delivery targets' counts, then exit; --json: as JSON.
    bool bOutbox = false;
    bool bJson = false;
    // --check: the profile's problems, or "ok", then exit.
    bool bCheck = false;
    // Standard output was closed when the program started (not an option).
    bool bStdoutClosed = false;
};

// Parses the arguments (without the program name).
CCommandLine ParseCommandLine(const std::vector<std::string>& args);

// Prints what --help, --version or a usage error call for and gives the exit
// status in *pnExitStatus. False when the program is to start.
bool PrintCommandLineOutcome(const CCommandLine& cmd, std::ostream& out,
                             std::ostream& err, int* pnExitStatus);

// The profile file to use: FILE from --profile (a relative one taken from
// strCwd, so that it stays the same file whatever the program does later),
// otherwise the default profile named after the executable.
std::string ChooseProfilePath(const CCommandLine& cmd, const std::string& strCwd,
                              const std::string& strExecutable);

// How the window title names a profile that is not the default one: its
// file name without the extension ("lab-line-2" for ~/lab-line-2.INI); empty
// for the default profile, which the title does not name.
std::string ProfileTitleName(const std::string& strProfilePath,
                             const std::string& strDefaultPath);

const char* VolnexUsage();
// "volnex 8.02"
std::string VolnexVersionLine();
// The About box's version text, "Ver. 8.02 09/25/07".
std::string AboutVersionText();
