#include "serial/OpenErrorText.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string AccessHint(const std::string& strPath, ISystemLookup& lookup) {
    const std::string strThen = "then log out and log in again.";
    std::string strGroup;
    if (!lookup.DeviceGroup(strPath, &strGroup)) {
        return "Your user needs the right to use the device; on Debian serial "
               "devices belong to the group dialout:\n"
               "  sudo usermod -aG dialout $USER\n" +
               strThen;
    }
    if (strGroup == "root") {
        // Adding users to root is no advice to give.
        return "The device belongs to root alone: ask the administrator to give "
               "it to a group such as dialout (a udev rule) and to add you to "
               "that group.";
    }
    const std::string strUser = lookup.UserName();
    const std::string strWho = strUser.empty() ? "" : " (" + strUser + ")";
    const std::string strOwner = "The device belongs to the group " + strGroup;
    if (lookup.ProcessInGroup(strGroup)) {
        return strOwner + ", and you" + strWho + " are in it: the device's own " +
               "permissions refuse the group (see ls -l " + strPath + ").";
    }
    if (lookup.UserListedInGroup(strGroup)) {
        return strOwner + ". You" + strWho + " were added to it, but this " +
               "login session started before that: log out and log in again.";
    }
    const std::string strCommand = "  sudo usermod -aG " + strGroup + " $USER\n";
    return strOwner + ", and you" + strWho + " are not in it. Add yourself with\n" +
           strCommand + strThen;
}

std::string BusyHint(const std::string& strPath, ISystemLookup& lookup) {
    std::vector<CDeviceHolder> holders = lookup.DeviceHolders(strPath);
    if (holders.empty())
        return "It is in use by another program.";
    std::string strText = "It is in use by ";
    for (size_t i = 0; i < holders.size(); ++i) {
        if (i > 0)
            strText += i + 1 == holders.size() ? " and " : ", ";
        strText += (holders[i].strName.empty() ? "a program" : holders[i].strName) +
                   " (process " + std::to_string(holders[i].nPid) + ")";
    }
    return strText + ".";
}

// The number of the group named strGroup; false when there is none.
bool GroupId(const std::string& strGroup, gid_t* pnGid) {
    struct group entry {};
    struct group* pFound = nullptr;
    std::vector<char> buffer(16384);
    const int nError =
        getgrnam_r(strGroup.c_str(), &entry, buffer.data(), buffer.size(), &pFound);
    if (nError != 0 || pFound == nullptr)
        return false;
    *pnGid = pFound->gr_gid;
    return true;
}

bool IsDigits(const char* sz) {
    if (*sz == '\0')
        return false;
    for (; *sz; ++sz) {
        if (*sz < '0' || *sz > '9')
            return false;
    }
    return true;
}

} // namespace

std::string OpenErrorText(const std::string& strPath, int nError,
                          ISystemLookup& lookup) {
    // A file, /dev/null or a FIFO opens, but there is no line to set up.
    if (nError == ENOTTY)
        return strPath + ": not a serial device";
    std::string strText = strPath + ": " + SystemText(nError);
    if (nError == EACCES || nError == EPERM)
        strText += "\n" + AccessHint(strPath, lookup);
    else if (nError == EBUSY)
        strText += "\n" + BusyHint(strPath, lookup);
    return strText;
}

std::string OpenErrorText(const std::string& strPath, int nError) {
    CSystemLookup lookup;
    return OpenErrorText(strPath, nError, lookup);
}

CSystemLookup::CSystemLookup(std::string strProcRoot)
    : m_strProcRoot(std::move(strProcRoot)) {}

bool CSystemLookup::DeviceGroup(const std::string& strPath, std::string* pstrGroup) {
    struct stat info {};
    if (stat(strPath.c_str(), &info) != 0)
        return false;
    struct group entry {};
    struct group* pFound = nullptr;
    std::vector<char> buffer(16384);
    if (getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &pFound) != 0 ||
        pFound == nullptr) {
        *pstrGroup = std::to_string(info.st_gid); // a group with no name
        return true;
    }
    *pstrGroup = pFound->gr_name;
    return true;
}

bool CSystemLookup::ProcessInGroup(const std::string& strGroup) {
    gid_t nGid = 0;
    if (!GroupId(strGroup, &nGid))
        return false;
    if (getegid() == nGid)
        return true;
    int nCount = getgroups(0, nullptr);
    if (nCount <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(nCount));
    nCount = getgroups(nCount, groups.data());
    groups.resize(static_cast<size_t>(std::max(nCount, 0)));
    return std::find(groups.begin(), groups.end(), nGid) != groups.end();
}

bool CSystemLookup::UserListedInGroup(const std::string& strGroup) {
    const std::string strUser = UserName();
    if (strUser.empty())
        return false;
    struct group entry {};
    struct group* pFound = nullptr;
    std::vector<char> buffer(65536); // big groups list many members
    const int nError =
        getgrnam_r(strGroup.c_str(), &entry, buffer.data(), buffer.size(), &pFound);
    if (nError != 0 || pFound == nullptr)
        return false;
    for (char** ppMember = pFound->gr_mem; *ppMember != nullptr; ++ppMember) {
        if (strUser == *ppMember)
            return true;
    }
    return false;
}

std::string CSystemLookup::UserName() {
    struct passwd entry {};
    struct passwd* pFound = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &pFound) == 0 &&
        pFound != nullptr)
        return pFound->pw_name;
    const char* szUser = std::getenv("USER");
    return szUser != nullptr ? szUser : "";
}

std::vector<CDeviceHolder> CSystemLookup::DeviceHolders(const std::string& strPath) {
    std::vector<CDeviceHolder> holders;
    char* szReal = realpath(strPath.c_str(), nullptr);
    if (szReal == nullptr)
        return holders;
    const std::string strDevice = szReal;
    std::free(szReal);
    DIR* pProc = opendir(m_strProcRoot.c_str());
    if (pProc == nullptr)
        return holders;
    // Only the processes whose descriptors this user may read are seen: a
    // device held by another user's program stays "another program".
    while (dirent* pEntry = readdir(pProc)) {
        if (!IsDigits(pEntry->d_name))
            continue;
        const std::string strProcess = m_strProcRoot + "/" + pEntry->d_name;
        DIR* pFds = opendir((strProcess + "/fd").c_str());
        if (pFds == nullptr)
            continue;
        bool bHolds = false;
        while (dirent* pFd = readdir(pFds)) {
            if (!IsDigits(pFd->d_name))
                continue;
            char szTarget[4096];
            ssize_t n = readlink((strProcess + "/fd/" + pFd->d_name).c_str(), szTarget,
                                 sizeof szTarget - 1);
            if (n > 0 && strDevice.compare(0, std::string::npos, szTarget,
                                           static_cast<size_t>(n)) == 0) {
                bHolds = true;
                break;
            }
        }
        closedir(pFds);
        if (!bHolds)
            continue;
        CDeviceHolder holder;
        holder.nPid = static_cast<pid_t>(std::atol(pEntry->d_name));
        std::ifstream comm(strProcess + "/comm");
        std::getline(comm, holder.strName);
        holders.push_back(holder);
    }
    closedir(pProc);
    return holders;
}

std::string SystemText(int nError) {
    char szBuffer[256];
    // GNU strerror_r returns the text, which may not be szBuffer.
    const char* szText = strerror_r(nError, szBuffer, sizeof szBuffer);
    if (szText == nullptr || *szText == '\0')
        return "Unknown error " + std::to_string(nError);
    return szText;
}
