#include "serial/DeviceList.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The names in strFolder that are strPrefix followed by a number, in number
// order (ttyUSB2 before ttyUSB10).
std::vector<std::string> NumberedNames(const std::string& strFolder,
                                       const std::string& strPrefix) {
    std::vector<std::pair<long, std::string>> found;
    if (DIR* pDir = opendir(strFolder.c_str())) {
        while (dirent* pEntry = readdir(pDir)) {
            const std::string strName = pEntry->d_name;
            if (strName.size() <= strPrefix.size() ||
                strName.compare(0, strPrefix.size(), strPrefix) != 0)
                continue;
            const std::string strNumber = strName.substr(strPrefix.size());
            if (strNumber.size() > 6 ||
                strNumber.find_first_not_of("0123456789") != std::string::npos)
                continue;
            found.emplace_back(std::atol(strNumber.c_str()), strName);
        }
        closedir(pDir);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> names;
    for (auto& entry : found)
        names.push_back(entry.second);
    return names;
}

bool Exists(const std::string& strPath) {
    struct stat info {};
    return stat(strPath.c_str(), &info) == 0;
}

std::string BaseName(const std::string& strPath) {
    const size_t nSlash = strPath.find_last_of('/');
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

} // namespace

CDeviceScanner::CDeviceScanner(std::string strDevRoot, std::string strSysRoot)
    : m_strDevRoot(std::move(strDevRoot)), m_strSysRoot(std::move(strSysRoot)) {}

bool CDeviceScanner::HasUart(const std::string& strName) const {
    std::ifstream type(m_strSysRoot + "/class/tty/" + strName + "/type");
    int nType = 0;
    return type >> nType && nType != 0;
}

std::vector<CDeviceChoice> CDeviceScanner::List(const std::string& strCurrent) const {
    std::vector<CDeviceChoice> choices;

    const std::string strById = m_strDevRoot + "/serial/by-id";
    std::vector<std::string> links;
    if (DIR* pDir = opendir(strById.c_str())) {
        while (dirent* pEntry = readdir(pDir)) {
            if (pEntry->d_name[0] != '.')
                links.emplace_back(pEntry->d_name);
        }
        closedir(pDir);
    }
    std::sort(links.begin(), links.end());
    for (const std::string& strLink : links) {
        const std::string strPath = strById + "/" + strLink;
        if (!Exists(strPath)) // a link left behind by an unplugged adapter
            continue;
        std::string strLabel = strLink;
        char szTarget[PATH_MAX];
        ssize_t n = readlink(strPath.c_str(), szTarget, sizeof szTarget - 1);
        if (n > 0)
            strLabel +=
                " (" + BaseName(std::string(szTarget, static_cast<size_t>(n))) + ")";
        choices.push_back({strPath, strLabel});
    }

    for (const char* szPrefix : {"ttyUSB", "ttyACM", "ttyS"}) {
        const bool bUart = std::string(szPrefix) == "ttyS";
        for (const std::string& strName : NumberedNames(m_strDevRoot, szPrefix)) {
            if (bUart && !HasUart(strName))
                continue;
            const std::string strPath = m_strDevRoot + "/" + strName;
            choices.push_back({strPath, strPath});
        }
    }

    if (!strCurrent.empty() &&
        std::none_of(choices.begin(), choices.end(),
                     [&](const CDeviceChoice& c) { return c.strPath == strCurrent; })) {
        std::string strLabel = strCurrent;
        const std::string strUarts = m_strDevRoot + "/ttyS";
        if (strCurrent[0] == '/' && !Exists(strCurrent))
            strLabel += " (not present)";
        else if (strCurrent.compare(0, strUarts.size(), strUarts) == 0)
            strLabel += " (no UART found)";
        choices.push_back({strCurrent, strLabel});
    }
    return choices;
}

std::string DevicePathForText(const std::vector<CDeviceChoice>& choices,
                              const std::string& strText) {
    for (const CDeviceChoice& choice : choices) {
        if (choice.strLabel == strText)
            return choice.strPath;
    }
    return strText;
}
