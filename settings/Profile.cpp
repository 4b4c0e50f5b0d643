#include "settings/Profile.h"

#include <cerrno>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string Trim(const std::string& strText) {
    size_t nBegin = 0, nEnd = strText.size();
    while (nBegin < nEnd && std::isspace(static_cast<unsigned char>(strText[nBegin])))
        ++nBegin;
    while (nEnd > nBegin && std::isspace(static_cast<unsigned char>(strText[nEnd - 1])))
        --nEnd;
    return strText.substr(nBegin, nEnd - nBegin);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

struct CLine {
    std::string strText;   // without its line end
    std::string strEnding; // "\n", "\r\n" or "" for a last line without one
};

std::vector<CLine> ReadLines(const std::string& strPath) {
    std::vector<CLine> lines;
    std::ifstream in(strPath, std::ios::binary);
    if (!in)
        return lines;
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string strAll = buffer.str();
    size_t nPos = 0;
    while (nPos < strAll.size()) {
        size_t nEnd = strAll.find('\n', nPos);
        CLine line;
        if (nEnd == std::string::npos) {
            line.strText = strAll.substr(nPos);
            nPos = strAll.size();
        } else {
            line.strText = strAll.substr(nPos, nEnd - nPos);
            line.strEnding = "\n";
            nPos = nEnd + 1;
        }
        if (!line.strText.empty() && line.strText.back() == '\r') {
            line.strText.pop_back();
            line.strEnding = "\r" + line.strEnding;
        }
        lines.push_back(line);
    }
    return lines;
}

// "[name]" gives true and the name.
bool IsSection(const std::string& strLine, std::string* pstrName) {
    std::string strTrimmed = Trim(strLine);
    if (strTrimmed.size() < 2 || strTrimmed.front() != '[')
        return false;
    size_t nClose = strTrimmed.find(']');
    if (nClose == std::string::npos)
        return false;
    *pstrName = Trim(strTrimmed.substr(1, nClose - 1));
    return true;
}

// "key=value" gives true with the trimmed key and value; comments do not.
bool IsEntry(const std::string& strLine, std::string* pstrKey, std::string* pstrValue) {
    std::string strTrimmed = Trim(strLine);
    if (strTrimmed.empty() || strTrimmed[0] == ';')
        return false;
    size_t nEquals = strTrimmed.find('=');
    if (nEquals == std::string::npos)
        return false;
    *pstrKey = Trim(strTrimmed.substr(0, nEquals));
    *pstrValue = Trim(strTrimmed.substr(nEquals + 1));
    return true;
}

bool MakeFolders(const std::string& strFolder) {
    if (strFolder.empty())
        return true;
    struct stat st;
    if (stat(strFolder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    size_t nSlash = strFolder.find_last_of('/');
    if (nSlash != std::string::npos && nSlash > 0 &&
        !MakeFolders(strFolder.substr(0, nSlash)))
        return false;
    return mkdir(strFolder.c_str(), 0755) == 0 || errno == EEXIST;
}

// Writes the text to a temporary file beside the target and renames it over
// the target, so that readers see the old file or the new one, never a part.
bool ReplaceFile(const std::string& strPath, const std::string& strText) {
    size_t nSlash = strPath.find_last_of('/');
    std::string strFolder = nSlash == std::string::npos ? "." : strPath.substr(0, nSlash);
    if (!MakeFolders(strFolder))
        return false;
    std::string strTemplate = strPath + ".XXXXXX";
    std::vector<char> name(strTemplate.begin(), strTemplate.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        return false;
    bool bOk = true;
    size_t nDone = 0;
    while (bOk && nDone < strText.size()) {
        ssize_t r = write(fd, strText.data() + nDone, strText.size() - nDone);
        if (r > 0)
            nDone += static_cast<size_t>(r);
        else if (!(r < 0 && errno == EINTR))
            bOk = false;
    }
    struct stat st;
    if (bOk && stat(strPath.c_str(), &st) == 0)
        fchmod(fd, st.st_mode & 07777); // keep the permissions the user chose
    else if (bOk)
        fchmod(fd, 0644);
    if (bOk && fsync(fd) != 0)
        bOk = false;
    if (close(fd) != 0)
        bOk = false;
    if (bOk && rename(name.data(), strPath.c_str()) != 0)
        bOk = false;
    if (!bOk)
        unlink(name.data());
    return bOk;
}

} // namespace

int DecimalValue(const std::string& strText) {
    size_t i = 0;
    while (i < strText.size() && std::isspace(static_cast<unsigned char>(strText[i])))
        ++i;
    bool bNegative = false;
    if (i < strText.size() && (strText[i] == '+' || strText[i] == '-'))
        bNegative = strText[i++] == '-';
    long long nValue = 0;
    while (i < strText.size() && std::isdigit(static_cast<unsigned char>(strText[i]))) {
        nValue = nValue * 10 + (strText[i++] - '0');
        if (nValue > static_cast<long long>(INT_MAX) + 1)
            nValue = static_cast<long long>(INT_MAX) + 1;
    }
    if (bNegative)
        nValue = -nValue;
    if (nValue > INT_MAX)
        nValue = INT_MAX;
    return static_cast<int>(nValue);
}

CIniProfile::CIniProfile(std::string strPath) : m_strPath(std::move(strPath)) {}

bool CIniProfile::Find(const std::string& strSection, const std::string& strKey,
                       std::string* pstrValue) const {
    // Read often (the status bar shows the stored settings ten times a
    // second): one read of the file and a scan, without building lines.
    std::string strAll;
    if (std::FILE* pFile = std::fopen(m_strPath.c_str(), "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pFile)) > 0)
            strAll.append(buffer, n);
        std::fclose(pFile);
    }
    bool bInSection = false;
    size_t nPos = 0;
    while (nPos < strAll.size()) {
        size_t nEnd = strAll.find('\n', nPos);
        if (nEnd == std::string::npos)
            nEnd = strAll.size();
        std::string strLine = strAll.substr(nPos, nEnd - nPos);
        nPos = nEnd + 1;
        std::string strName, strKey2, strValue;
        if (IsSection(strLine, &strName)) {
            bInSection = SameName(strName, strSection);
        } else if (bInSection && IsEntry(strLine, &strKey2, &strValue) &&
                   SameName(strKey2, strKey)) {
            *pstrValue = strValue;
            return true;
        }
    }
    return false;
}

std::string CIniProfile::GetString(const std::string& strSection,
                                   const std::string& strKey,
                                   const std::string& strDefault) const {
    std::string strValue;
    return Find(strSection, strKey, &strValue) ? strValue : strDefault;
}

int CIniProfile::GetInt(const std::string& strSection, const std::string& strKey,
                        int nDefault) const {
    std::string strValue;
    return Find(strSection, strKey, &strValue) ? DecimalValue(strValue) : nDefault;
}

bool CIniProfile::WriteString(const std::string& strSection, const std::string& strKey,
                              const std::string& strValue) {
    // A line end inside a value would break the file into new entries.
    std::string strClean;
    for (char ch : strValue)
        strClean += (ch == '\n' || ch == '\r') ? ' ' : ch;
    strClean = Trim(strClean);

    std::vector<CLine> lines = ReadLines(m_strPath);
    std::string strEnding = "\n";
    for (const CLine& line : lines) {
        if (!line.strEnding.empty()) {
            strEnding = line.strEnding; // keep the file's own line ends
            break;
        }
    }
    const std::string strEntry = strKey + "=" + strClean;
    bool bInSection = false, bDone = false;
    long nSectionEnd = -1; // last entry-bearing line of the section
    for (size_t i = 0; i < lines.size() && !bDone; ++i) {
        std::string strName, strKey2, strValue;
        if (IsSection(lines[i].strText, &strName)) {
            if (bInSection)
                break;
            bInSection = SameName(strName, strSection);
            if (bInSection)
                nSectionEnd = static_cast<long>(i);
        } else if (bInSection) {
            if (IsEntry(lines[i].strText, &strKey2, &strValue) &&
                SameName(strKey2, strKey)) {
                lines[i].strText = strEntry;
                bDone = true;
            } else if (!Trim(lines[i].strText).empty()) {
                nSectionEnd = static_cast<long>(i);
            }
        }
    }
    if (!bDone) {
        if (!lines.empty() && lines.back().strEnding.empty())
            lines.back().strEnding = strEnding;
        if (nSectionEnd >= 0) {
            lines.insert(lines.begin() + nSectionEnd + 1, CLine{strEntry, strEnding});
        } else {
            lines.push_back(CLine{"[" + strSection + "]", strEnding});
            lines.push_back(CLine{strEntry, strEnding});
        }
    }
    std::string strText;
    for (const CLine& line : lines)
        strText += line.strText + line.strEnding;
    return ReplaceFile(m_strPath, strText);
}

bool CIniProfile::WriteInt(const std::string& strSection, const std::string& strKey,
                           int nValue) {
    return WriteString(strSection, strKey, std::to_string(nValue));
}

std::string DefaultProfilePath(const std::string& strExecutable) {
    std::string strFolder;
    const char* szXdg = std::getenv("XDG_CONFIG_HOME");
    if (szXdg != nullptr && szXdg[0] == '/') {
        strFolder = szXdg;
    } else {
        const char* szHome = std::getenv("HOME");
        strFolder = std::string(szHome != nullptr ? szHome : ".") + "/.config";
    }
    return strFolder + "/" + strExecutable + ".INI";
}

namespace {
IProfile* g_pProfile = nullptr;
} // namespace

IProfile& AppProfile() {
    if (g_pProfile != nullptr)
        return *g_pProfile;
    static CIniProfile defaultProfile(DefaultProfilePath());
    return defaultProfile;
}

void SetAppProfile(IProfile* pProfile) { g_pProfile = pProfile; }
