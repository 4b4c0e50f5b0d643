#include "session/ViewText.h"

#include "engine/ControlNames.h"
#include "engine/Protocol.h"
#include "serial/TcpEndpoint.h"
#include "session/Clock.h"
#include "settings/PortConfig.h"
#include "settings/Profile.h"

std::string FormatPageLine(std::time_t when, const std::string& strPageText) {
    std::string strLine = FormatTimeC("%m/%d/%Y %H:%M:%S ", when);
    for (size_t i = 0; i < strPageText.size(); ++i) {
        const unsigned char ch = static_cast<unsigned char>(strPageText[i]);
        if (ch == static_cast<unsigned char>(kSub)) {
            if (i + 1 < strPageText.size()) {
                const unsigned char next =
                    static_cast<unsigned char>(strPageText[i + 1]);
                if (next >= 0x40 && next <= 0x5F) {
                    strLine += ControlName(static_cast<unsigned char>(next - 0x40));
                    ++i;
                    continue;
                }
            }
            strLine += ControlName(ch);
            continue;
        }
        strLine += static_cast<char>(ch);
    }
    return strLine;
}

std::string ReadableBoxText(const std::string& strText) {
    std::string strResult;
    size_t nStart = 0;
    for (;;) {
        const size_t nEnd = strText.find('\n', nStart);
        strResult +=
            CutWithLength(strText.substr(nStart, nEnd - nStart), kBoxLineLimit);
        if (nEnd == std::string::npos)
            return strResult;
        strResult += '\n';
        nStart = nEnd + 1;
    }
}

size_t OldestPageLinesToDrop(size_t nCount, size_t nLimit,
                             const std::function<std::string(size_t)>& lineAt) {
    auto isResult = [&](size_t i) {
        const std::string strLine = lineAt(i);
        return !strLine.empty() && strLine[0] == '\t';
    };
    size_t nDrop = 0;
    while (nCount - nDrop > nLimit) {
        ++nDrop; // a page's line (or a result line left without one)
        while (nDrop < nCount && isResult(nDrop))
            ++nDrop;
    }
    return nDrop;
}

std::string PortSettingsText(const CPortConfig& config) {
    return "Port Settings : Port: " + config.GetCommPort() +
           " BaudRate: " + config.GetBaudRate() + " Parity: " + config.GetParity() +
           " StopBits: " + config.GetStopBits() + " DataBits: " + config.GetDataBits();
}

std::string ClockText(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char szText[16];
    std::snprintf(szText, sizeof szText, "%i:%02i", local.tm_hour, local.tm_min);
    return szText;
}

std::string LostDeviceNote(const std::string& strDevicePath) {
    return strDevicePath.empty() ? std::string()
                                 : " (device lost: " + strDevicePath + ")";
}

std::string StatusSettingsText(const CPortConfig& config,
                               const std::string& strLineInUse,
                               const std::string& strLineState,
                               const std::string& strLostDevice) {
    const std::string strStored = config.GetDevicePath(config.m_nPort);
    if (!IsTcpEndpoint(strStored)) {
        // COMn is a device path here: the pane names it, so that windows
        // serving different adapters are told apart.
        std::string strText = PortSettingsText(config);
        const std::string strPort = "Port: " + config.GetCommPort();
        const size_t nAt = strText.find(strPort);
        if (nAt != std::string::npos && !strStored.empty())
            strText.insert(nAt + strPort.size(), " " + strStored);
        return strText + LostDeviceNote(strLostDevice);
    }
    const bool bInUse = strLineInUse == strStored && !strLineState.empty();
    return "Port Settings : Port: " + config.GetCommPort() + " " +
           (bInUse ? strLineState : strStored);
}

std::string TestModeNote(const std::string& strModes) {
    return strModes.empty() ? std::string() : " (test mode: " + strModes + ")";
}

std::string UnusableProfileText(const std::string& strPath,
                                const std::string& strReason) {
    return "Cannot use the profile " + strPath + ": " + strReason +
           ".\nVolnex runs on the default settings, and a change of a setting is not "
           "saved to that file while it stays so.";
}

std::string NewProfileNote(const std::string& strPath) {
    std::string strReason;
    if (strPath.empty() || // a profile with no file of its own
        CheckProfileFile(strPath, &strReason) != ProfileFileState::kMissing)
        return std::string();
    return "   PROFILE " + strPath + " IS NEW: IT IS WRITTEN AT THE FIRST CHANGE";
}
