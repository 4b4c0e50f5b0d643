#include "session/CommandLine.h"

#include "BuildInfo.h"
#include "settings/Profile.h"

#include <ostream>

namespace {

CCommandLine UsageError(const std::string& strError) {
    CCommandLine cmd;
    cmd.action = CommandAction::kUsageError;
    cmd.strError = strError;
    return cmd;
}

// A count from 1 to 10^9 as the whole text; 0 for anything else.
int PositiveCount(const std::string& strText) {
    if (strText.empty() || strText.size() > 10 ||
        strText.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const long long n = std::stoll(strText);
    return n >= 1 && n <= 1000000000 ? static_cast<int>(n) : 0;
}

} // namespace

CCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CCommandLine cmd;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& strArg = args[i];
        if (strArg == "--") // everything after it is an argument, and ignored
            break;
        if (strArg.size() < 2 || strArg[0] != '-')
            continue; // arguments are ignored
        if (strArg == "--help" || strArg == "-h") {
            cmd.action = CommandAction::kHelp;
            return cmd;
        }
        if (strArg == "--version") {
            cmd.action = CommandAction::kVersion;
            return cmd;
        }
        if (strArg == "--profile" || strArg.compare(0, 10, "--profile=") == 0) {
            std::string strValue;
            if (strArg == "--profile") {
                if (i + 1 >= args.size())
                    return UsageError("--profile needs a file name");
                strValue = args[++i];
            } else {
                strValue = strArg.substr(10);
            }
            if (strValue.empty())
                return UsageError("--profile needs a file name");
            cmd.strProfile = strValue;
            continue;
        }
        if (strArg == "--headless") {
            cmd.bHeadless = true;
            continue;
        }
        if (strArg == "--outbox") {
            cmd.bOutbox = true;
            continue;
        }
        if (strArg == "--check") {
            cmd.bCheck = true;
            continue;
        }
        if (strArg == "--json") {
            cmd.bJson = true;
            continue;
        }
        if (strArg == "--trace" || strArg.compare(0, 8, "--trace=") == 0) {
            cmd.bTrace = true;
            if (strArg != "--trace")
                cmd.strTrace = strArg.substr(8);
            else if (i + 1 < args.size() && !args[i + 1].empty() &&
                     args[i + 1][0] != '-')
                cmd.strTrace = args[++i];
            continue;
        }
        if (strArg == "--exit-after" || strArg == "--timeout") {
            if (i + 1 >= args.size() || PositiveCount(args[i + 1]) == 0)
                return UsageError(strArg + " needs a whole number from 1 up");
            (strArg == "--timeout" ? cmd.nTimeoutSeconds : cmd.nExitAfter) =
                PositiveCount(args[++i]);
            continue;
        }
        return UsageError("unknown option " + strArg);
    }
    if (cmd.bOutbox && cmd.bHeadless)
        return UsageError("--outbox reports and exits: it does not go with --headless");
    if (cmd.bCheck && (cmd.bHeadless || cmd.bOutbox))
        return UsageError(
            "--check reads the profile and exits: it goes with --profile only");
    if (cmd.bJson && !cmd.bOutbox)
        return UsageError("--json goes with --outbox");
    if (!cmd.bHeadless && (cmd.bTrace || cmd.nExitAfter > 0 || cmd.nTimeoutSeconds > 0))
        return UsageError("--trace, --exit-after and --timeout go with --headless");
    return cmd;
}

bool PrintCommandLineOutcome(const CCommandLine& cmd, std::ostream& out,
                             std::ostream& err, int* pnExitStatus) {
    switch (cmd.action) {
    case CommandAction::kRun: return false;
    case CommandAction::kHelp:
        out << VolnexUsage();
        *pnExitStatus = 0;
        return true;
    case CommandAction::kVersion:
        out << VolnexVersionLine() << "\n";
        *pnExitStatus = 0;
        return true;
    case CommandAction::kUsageError:
        err << "volnex: " << cmd.strError << "\n\n" << VolnexUsage();
        *pnExitStatus = 2;
        return true;
    }
    return false;
}

std::string ChooseProfilePath(const CCommandLine& cmd, const std::string& strCwd,
                              const std::string& strExecutable) {
    if (cmd.strProfile.empty())
        return DefaultProfilePath(strExecutable);
    if (cmd.strProfile[0] == '/' || strCwd.empty())
        return cmd.strProfile;
    return strCwd + (strCwd.back() == '/' ? "" : "/") + cmd.strProfile;
}

std::string ProfileTitleName(const std::string& strProfilePath,
                             const std::string& strDefaultPath) {
    if (strProfilePath.empty() || strProfilePath == strDefaultPath)
        return std::string();
    const size_t nSlash = strProfilePath.find_last_of('/');
    std::string strName =
        strProfilePath.substr(nSlash == std::string::npos ? 0 : nSlash + 1);
    const size_t nDot = strName.find_last_of('.');
    if (nDot != std::string::npos && nDot > 0)
        strName.erase(nDot);
    return strName.empty() ? strProfilePath : strName;
}

const char* VolnexUsage() {
    return "Usage: volnex [--profile FILE]\n"
           "       volnex --headless [--profile FILE] [--trace [FILE]]\n"
           "              [--exit-after N] [--timeout SECONDS]\n"
           "       volnex --outbox [--profile FILE] [--json]\n"
           "       volnex --check [--profile FILE]\n"
           "       volnex --help | --version\n"
           "\n"
           "Answers a paging system (VELDRIN) that calls over a serial line\n"
           "with the alphanumeric paging protocol, and shows the sessions, the\n"
           "line levels, the pages received and the raw traffic.\n"
           "\n"
           "Options:\n"
           "  --profile FILE  keep the settings in FILE instead of the default\n"
           "                  profile, $XDG_CONFIG_HOME/volnex.INI\n"
           "                  (~/.config/volnex.INI); FILE and its folder are\n"
           "                  made on the first change of a setting\n"
           "  --headless      no window: answer the line and write each page\n"
           "                  result as one JSON line on standard output;\n"
           "                  exit 0 when every page was in the end accepted\n"
           "                  (a good resend after a NAK counts) and at\n"
           "                  least one came, 1 otherwise (each reason on\n"
           "                  standard error), 2 when the line\n"
           "                  cannot be opened, the profile cannot be used\n"
           "                  (or --profile names none) or an option is wrong\n"
           "  --trace [FILE]  with --headless: the protocol lines with their\n"
           "                  times on standard error, or in FILE\n"
           "  --exit-after N  with --headless: end after N page results\n"
           "  --timeout SECONDS  with --headless: end after that long\n"
           "  --outbox        print each delivery target's pending, delivered,\n"
           "                  failed and expired pages and its oldest\n"
           "                  pending page, and exit (--json: as JSON)\n"
           "  --check         read the profile, open nothing, print each\n"
           "                  problem found (exit 1) or \"ok\" (exit 0)\n"
           "  --help          print this text and exit\n"
           "  --version       print the version and exit\n"
           "\n"
           "Other arguments are ignored. To serve two lines at once, run one\n"
           "Volnex per line, each with its own profile, and choose each one's\n"
           "port and device in its Connection sheet:\n"
           "  volnex --profile ~/.config/volnex-line1.INI &\n"
           "  volnex --profile ~/.config/volnex-line2.INI &\n"
           "\n"
           "A port's device may also be a network line: tcp-listen:[ADDRESS:]PORT\n"
           "(Volnex listens, on 127.0.0.1 unless told) or tcp:HOST:PORT (it\n"
           "connects out). Help > Index explains it, and the test bench.\n";
}

std::string VolnexVersionLine() {
    return std::string("volnex ") + VOLNEX_VERSION;
}

std::string AboutVersionText() {
    return std::string("Ver. ") + VOLNEX_VERSION + " " + VOLNEX_RELEASE_DATE;
}
