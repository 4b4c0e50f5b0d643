// veldrin-sim: calls a paging terminal over a serial line, as a
// page-originating system does. See --help.
#include "serial/OpenErrorText.h"
#include "serial/PtyMasterDevice.h"
#include "serial/TcpDevice.h"
#include "serial/TermiosDevice.h"
#include "tools/veldrin-sim/Caller.h"
#include "tools/veldrin-sim/SimOptions.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <poll.h>
#include <signal.h>

namespace {

// Connects to a terminal on a network line and runs the session.
int CallOverTcp(const CSimOptions& options) {
    CTcpDevice line;
    if (int nError = line.Open(options.strTcp)) {
        const std::string strReason = line.GetOpenReason();
        std::cerr << "veldrin-sim: cannot reach " << options.strTcp << ": "
                  << (strReason.empty() ? std::strerror(nError) : strReason) << "\n";
        return 1;
    }
    // A refused connection is tried again after 1 and 2 seconds.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    unsigned nLevels = 0;
    for (;;) {
        line.Service();
        if (line.GetModemStatus(&nLevels) != 0 || nLevels != 0 ||
            std::chrono::steady_clock::now() >= deadline)
            break;
        pollfd pfd{line.PollFd(), POLLIN, 0};
        poll(&pfd, 1, 50);
    }
    if (nLevels == 0) {
        std::cerr << "veldrin-sim: cannot connect: " << line.Describe() << "\n";
        return 1;
    }
    CCaller caller(line, options, std::cout);
    return caller.Run();
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    CSimOptions options;
    std::string strError;
    const bool bParsed = ParseSimOptions(args, &options, &strError);
    int nExitStatus = 0;
    if (PrintSimOutcome(bParsed, options, strError, std::cout, std::cerr, &nExitStatus))
        return nExitStatus;
    signal(SIGPIPE, SIG_IGN);
    const std::string strRefusal = FramingRefusal(options, !options.strPtyLink.empty());
    if (!strRefusal.empty()) {
        std::cerr << "veldrin-sim: " << strRefusal << "\n";
        return 2;
    }
    if (!options.strTcp.empty())
        return CallOverTcp(options);
    if (!options.strPtyLink.empty()) {
        CPtyMasterDevice line;
        if (int nError = line.Open(options.strPtyLink)) {
            std::cerr << "veldrin-sim: cannot make a virtual line at "
                      << options.strPtyLink << ": " << std::strerror(nError) << "\n";
            return 1;
        }
        std::cout << "virtual line: " << options.strPtyLink << " -> "
                  << line.GetTerminalPath() << "\n"
                  << std::flush;
        CCaller caller(line, options, std::cout);
        return caller.Run();
    }
    CTermiosDevice device;
    if (int nError = device.Open(options.strDevice)) {
        std::cerr << "veldrin-sim: cannot open "
                  << OpenErrorText(options.strDevice, nError) << "\n";
        return 1;
    }
    // A device path that is a pseudo-terminal (it has no modem lines)
    // carries no framing either.
    unsigned nModem = 0;
    const std::string strDeviceRefusal =
        FramingRefusal(options, device.GetModemStatus(&nModem) == ENOTTY);
    if (!strDeviceRefusal.empty()) {
        std::cerr << "veldrin-sim: " << strDeviceRefusal << "\n";
        return 2;
    }
    CLineFormat format;
    format.nBaud = options.nBaud;
    format.nDataBits = options.nDataBits;
    format.chParity = options.chParity;
    format.nStopBits = options.nStopBits;
    if (!CTermiosDevice::IsSupportedBaud(options.nBaud)) {
        std::cerr << "veldrin-sim: " << options.nBaud << " is not a line speed\n";
        return 2;
    }
    CFlowControlModes flow; // RTS and DTR on, no handshake
    if (int nError = device.WriteSettings(format, flow)) {
        std::cerr << "veldrin-sim: cannot set up " << options.strDevice << ": "
                  << std::strerror(nError) << "\n";
        return 1;
    }
    device.Flush(true, false);
    CCaller caller(device, options, std::cout);
    return caller.Run();
}
