#include "session/ProfileCheck.h"

#include "delivery/Delivery.h"
#include "engine/TestMode.h"
#include "session/AlertWatch.h"
#include "session/Charset.h"
#include "session/StatusServer.h"
#include "settings/PortConfig.h"
#include "settings/Profile.h"
#include "settings/ShownValue.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsUnder(const std::string& strPath, const char* szEnv) {
    const char* szDir = std::getenv(szEnv);
    if (szDir == nullptr || *szDir == '\0')
        return false;
    const std::string strDir = szDir;
    return strPath == strDir || strPath.rfind(strDir + "/", 0) == 0;
}

// Empty when the folder can be written, or made where it is missing.
std::string FolderProblem(const std::string& strFolder) {
    // The folders systemd makes for the unit before it starts.
    if (IsUnder(strFolder, "LOGS_DIRECTORY") || IsUnder(strFolder, "STATE_DIRECTORY"))
        return std::string();
    struct stat info {};
    if (stat(strFolder.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode))
            return "is not a folder";
        if (access(strFolder.c_str(), W_OK | X_OK) != 0)
            return std::string("cannot be written: ") + std::strerror(errno);
        return std::string();
    }
    // Missing: the nearest folder above it that exists must take it.
    std::string strParent = strFolder;
    while (stat(strParent.c_str(), &info) != 0) {
        const size_t nSlash = strParent.find_last_of('/');
        if (nSlash == std::string::npos) {
            strParent = ".";
            break;
        }
        strParent = nSlash == 0 ? "/" : strParent.substr(0, nSlash);
    }
    if (stat(strParent.c_str(), &info) == 0 && !S_ISDIR(info.st_mode))
        return "cannot be made: " + strParent + " is not a folder";
    if (access(strParent.c_str(), W_OK | X_OK) != 0)
        return "is missing and cannot be made in " + strParent + ": " +
               std::strerror(errno);
    return std::string();
}

} // namespace

std::vector<std::string> CheckProfile(const std::string& strPath, bool bNamed) {
    std::vector<std::string> problems;
    std::string strWhy;
    const ProfileFileState state = CheckProfileFile(strPath, &strWhy);
    if (state == ProfileFileState::kUnusable)
        return {"cannot use the profile " + strPath + ": " + strWhy};
    if (state == ProfileFileState::kMissing && bNamed)
        return {"no such profile: " + strPath};

    CIniProfile profile(strPath);
    CPortConfig config(profile);
    config.Load();
    const uint8_t nPort = static_cast<uint8_t>(config.m_nPort);
    const auto bad = [&](const std::string& strKey, const std::string& strValue,
                         const std::string& strReason) {
        problems.push_back(strKey + "=" + ShownValue(strValue) + ": " + strReason);
    };

    CTestModeSettings settings;
    if (!ParseTestMode(config.GetMisbehave(), &settings, &strWhy))
        bad(CPortConfig::PortKey("Misbehave", nPort), config.GetMisbehave(), strWhy);
    Charset charset;
    if (!ParseCharset(config.GetCharset(), &charset))
        bad(CPortConfig::PortKey("Charset", nPort), config.GetCharset(),
            "takes ascii, latin1, cp1252 or utf-8");
    std::int64_t nMs = 0;
    const std::string strSilenceKey = CPortConfig::PortKey("SilenceAlert", nPort);
    const std::string strSilence =
        profile.GetString("Configuration", strSilenceKey, "");
    if (!ParseAlertMinutes(strSilence, &nMs))
        bad(strSilenceKey, strSilence, "minutes, such as 5 or 0.5");
    const std::string strTarget = profile.GetString("Configuration", "TargetAlert", "");
    if (!ParseAlertMinutes(strTarget, &nMs))
        bad("TargetAlert", strTarget, "minutes, such as 10 or 0.5");
    const std::string strListen =
        profile.GetString("Configuration", "StatusListen", "");
    std::string strHost;
    int nListenPort = 0;
    if (strListen.find_first_not_of(" \t") != std::string::npos &&
        !ParseListenAddress(strListen, &strHost, &nListenPort, &strWhy))
        bad("StatusListen", strListen, strWhy);

    const std::string strKeep = profile.GetString("Configuration", "LogKeepDays", "");
    if (!strKeep.empty() &&
        (strKeep.size() > 5 ||
         strKeep.find_first_not_of("0123456789") != std::string::npos))
        bad("LogKeepDays", strKeep, "whole days, 0 to keep every file; 30 is used");
    const CTargetList targets = LoadTargets(profile);
    for (const auto& off : targets.off)
        problems.push_back(off.second);
    bool bSecret = false;
    for (const CTargetConfig& target : targets.targets)
        bSecret =
            bSecret || !target.strPassword.empty() || !target.strAuthorization.empty();
    struct stat info {};
    if (bSecret && stat(strPath.c_str(), &info) == 0 && (info.st_mode & 077) != 0)
        problems.push_back(strPath +
                           ": holds a password and others may read it (chmod 600 " +
                           strPath + ")");

    const std::string strLog = config.GetLogFolder();
    if (!strLog.empty()) {
        strWhy = FolderProblem(strLog);
        if (!strWhy.empty())
            bad(CPortConfig::PortKey("LogFolder", nPort), strLog, strWhy);
    }
    const std::string strState = config.GetStateFolder();
    if (!strState.empty() && !targets.targets.empty()) {
        strWhy = FolderProblem(strState);
        if (!strWhy.empty())
            bad("StateFolder", strState, strWhy);
    }
    return problems;
}
