#include "settings/Profile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// Editors on other platforms start a UTF-8 file with a byte order mark; it
// is not part of the first line.
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr size_t kByteOrderMarkSize = 3;

bool StartsWithByteOrderMark(const std::string& strText) {
    return strText.compare(0, kByteOrderMarkSize, kByteOrderMark) == 0;
}

struct CLine {
    std::string strText;   // without its line end
    std::string strEnding; // "\n", "\r\n" or "" for a last line without one
};

struct CLines {
    bool bByteOrderMark = false;
    std::vector<CLine> lines;
};

CLines ReadLines(const std::string& strPath) {
    CLines file;
    std::vector<CLine>& lines = file.lines;
    std::ifstream in(strPath, std::ios::binary);
    if (!in)
        return file;
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string strAll = buffer.str();
    if (StartsWithByteOrderMark(strAll)) {
        file.bByteOrderMark = true;
        strAll.erase(0, kByteOrderMarkSize);
    }
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
    return file;
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

// Writes the text to a temporary file beside the target and renames it over
// the target, so that readers see the old file or the new one, never a part.
// 0 or the errno of the first failure.
int ReplaceFile(const std::string& strPath, const std::string& strText) {
    size_t nSlash = strPath.find_last_of('/');
    std::string strFolder =
        nSlash == std::string::npos ? "." : strPath.substr(0, nSlash);
    if (int nError = MakeFolders(strFolder, 0755))
        return nError;
    std::string strTemplate = strPath + ".XXXXXX";
    std::vector<char> name(strTemplate.begin(), strTemplate.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        return errno;
    int nError = 0;
    size_t nDone = 0;
    while (nError == 0 && nDone < strText.size()) {
        ssize_t r = write(fd, strText.data() + nDone, strText.size() - nDone);
        if (r > 0)
            nDone += static_cast<size_t>(r);
        else if (r == 0)
            nError = EIO;
        else if (errno != EINTR)
            nError = errno;
    }
    struct stat st;
    if (nError == 0 && stat(strPath.c_str(), &st) == 0)
        fchmod(fd, st.st_mode & 07777); // keep the permissions the user chose
    else if (nError == 0)
        fchmod(fd, 0644);
    if (nError == 0 && fsync(fd) != 0)
        nError = errno;
    if (close(fd) != 0 && nError == 0)
        nError = errno;
    if (nError == 0 && rename(name.data(), strPath.c_str()) != 0)
        nError = errno;
    if (nError != 0)
        unlink(name.data());
    return nError;
}

std::string LowerCase(const std::string& strText) {
    std::string strLower = strText;
    for (char& ch : strLower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return strLower;
}

// The start of a file tells text from binary data: a large file is not read
// whole to tell.
constexpr size_t kTextSampleSize = 64 * 1024;
constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kEndOfFileMark = 0x1A; // SUB, which old editors leave

bool IsTextControl(unsigned char ch) {
    return ch == '\t' || ch == '\n' || ch == '\r' || ch == '\f' || ch == kEndOfFileMark;
}

// The length of the well-formed UTF-8 sequence that starts at p (a byte of
// 80 hex or more), or 0 when none does.
size_t Utf8SequenceLength(const unsigned char* p, size_t nLeft) {
    size_t nLength = 0;
    unsigned char nLowest = 0x80, nHighest = 0xBF; // the second byte's range
    if (p[0] >= 0xC2 && p[0] <= 0xDF) {
        nLength = 2;
    } else if (p[0] >= 0xE0 && p[0] <= 0xEF) {
        nLength = 3;
        nLowest = p[0] == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        nHighest = p[0] == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (p[0] >= 0xF0 && p[0] <= 0xF4) {
        nLength = 4;
        nLowest = p[0] == 0xF0 ? 0x90 : 0x80;
        nHighest = p[0] == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
    }
    if (nLength == 0 || nLeft < nLength || p[1] < nLowest || p[1] > nHighest)
        return 0;
    for (size_t i = 2; i < nLength; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    }
    return nLength;
}

bool StartsWithUtf16Mark(const std::string& strBytes) {
    return strBytes.compare(0, 2, "\xFF\xFE") == 0 ||
           strBytes.compare(0, 2, "\xFE\xFF") == 0;
}

} // namespace

bool LooksLikeText(const std::string& strBytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(strBytes.data());
    const size_t nSize = strBytes.size();
    size_t nOdd = 0;
    for (size_t i = 0; i < nSize;) {
        const unsigned char ch = p[i];
        if (ch == 0)
            return false;
        if (ch >= 0x80) {
            if (const size_t nLength = Utf8SequenceLength(p + i, nSize - i)) {
                i += nLength;
                continue;
            }
            ++nOdd;
        } else if ((ch < 0x20 && !IsTextControl(ch)) || ch == kDelete) {
            ++nOdd;
        }
        ++i;
    }
    return nOdd * 4 <= nSize;
}

ProfileFileState CheckProfileFile(const std::string& strPath, std::string* pstrReason) {
    pstrReason->clear();
    struct stat st;
    if (stat(strPath.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return ProfileFileState::kMissing;
        *pstrReason = std::strerror(errno); // "Not a directory", "Permission denied"
        return ProfileFileState::kUnusable;
    }
    if (S_ISDIR(st.st_mode)) {
        *pstrReason = "is a folder";
        return ProfileFileState::kUnusable;
    }
    if (!S_ISREG(st.st_mode)) {
        // Not opened: a pipe would wait for a writer, a device may answer.
        *pstrReason = "is not a regular file";
        return ProfileFileState::kUnusable;
    }
    const int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        *pstrReason = std::strerror(errno);
        return ProfileFileState::kUnusable;
    }
    std::string strSample(kTextSampleSize, '\0');
    size_t nRead = 0;
    int nError = 0;
    while (nRead < strSample.size()) {
        const ssize_t n = read(fd, &strSample[nRead], strSample.size() - nRead);
        if (n > 0)
            nRead += static_cast<size_t>(n);
        else if (n == 0)
            break;
        else if (errno != EINTR) {
            nError = errno;
            break;
        }
    }
    close(fd);
    strSample.resize(nRead);
    if (nError != 0) {
        *pstrReason = std::strerror(nError);
        return ProfileFileState::kUnusable;
    }
    if (!LooksLikeText(strSample)) {
        // Windows editors save "Unicode" as UTF-16, every other byte a NUL.
        *pstrReason = StartsWithUtf16Mark(strSample)
                          ? "is UTF-16 text: save it as UTF-8"
                          : "is not a text file";
        return ProfileFileState::kUnusable;
    }
    return ProfileFileState::kUsable;
}

int MakeFolders(const std::string& strFolder, unsigned nMode) {
    if (strFolder.empty())
        return 0;
    struct stat st;
    if (stat(strFolder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    size_t nSlash = strFolder.find_last_of('/');
    if (nSlash != std::string::npos && nSlash > 0) {
        if (int nError = MakeFolders(strFolder.substr(0, nSlash), nMode))
            return nError;
    }
    return mkdir(strFolder.c_str(), nMode) == 0 || errno == EEXIST ? 0 : errno;
}

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

// The file as last parsed, and what it was then: while the file has the same
// identity its values are known.
struct CIniProfile::CParsed {
    dev_t device = 0;
    ino_t inode = 0;
    off_t nSize = -1;
    timespec modified{};
    timespec changed{};
    // "section\nkey" in lower case; the first occurrence of a key wins.
    std::map<std::string, std::string> values;
    std::vector<std::string> sections; // names as written, in file order

    bool Matches(const struct stat& st) const {
        return st.st_dev == device && st.st_ino == inode && st.st_size == nSize &&
               st.st_mtim.tv_sec == modified.tv_sec &&
               st.st_mtim.tv_nsec == modified.tv_nsec &&
               st.st_ctim.tv_sec == changed.tv_sec &&
               st.st_ctim.tv_nsec == changed.tv_nsec;
    }
};

CIniProfile::CIniProfile(std::string strPath) : m_strPath(std::move(strPath)) {}

CIniProfile::~CIniProfile() = default;

const CIniProfile::CParsed* CIniProfile::Parsed() const {
    // The status bar reads the profile several times a refresh: a file that
    // has not changed since it was parsed is not opened again.
    struct stat st;
    if (stat(m_strPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        m_pParsed.reset();
        return nullptr;
    }
    if (!m_pParsed || !m_pParsed->Matches(st)) {
        int fd = open(m_strPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            if (fd >= 0)
                close(fd);
            m_pParsed.reset();
            return nullptr;
        }
        auto pParsed = std::make_unique<CParsed>();
        pParsed->device = st.st_dev;
        pParsed->inode = st.st_ino;
        pParsed->nSize = st.st_size;
        pParsed->modified = st.st_mtim;
        pParsed->changed = st.st_ctim;
        std::string strAll;
        char buffer[4096];
        ssize_t n;
        while ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
            if (n > 0)
                strAll.append(buffer, static_cast<size_t>(n));
        }
        size_t nPos = StartsWithByteOrderMark(strAll) ? kByteOrderMarkSize : 0;
        std::string strCurrent;
        bool bInSection = false;
        while (nPos < strAll.size()) {
            size_t nEnd = strAll.find('\n', nPos);
            if (nEnd == std::string::npos)
                nEnd = strAll.size();
            const std::string strLine = strAll.substr(nPos, nEnd - nPos);
            nPos = nEnd + 1;
            std::string strName, strKey2, strValue;
            if (IsSection(strLine, &strName)) {
                strCurrent = LowerCase(strName) + "\n";
                bInSection = true;
                pParsed->sections.push_back(strName);
            } else if (bInSection && IsEntry(strLine, &strKey2, &strValue)) {
                pParsed->values.emplace(strCurrent + LowerCase(strKey2), strValue);
            }
        }
        m_pParsed = std::move(pParsed);
        close(fd);
    }
    return m_pParsed.get();
}

std::vector<std::string> CIniProfile::GetSectionNames() const {
    const CParsed* pParsed = Parsed();
    if (pParsed == nullptr)
        return {};
    std::vector<std::string> names;
    for (const std::string& strName : pParsed->sections) {
        const bool bSeen =
            std::any_of(names.begin(), names.end(),
                        [&](const std::string& s) { return SameName(s, strName); });
        if (!bSeen)
            names.push_back(strName);
    }
    return names;
}

bool CIniProfile::Find(const std::string& strSection, const std::string& strKey,
                       std::string* pstrValue) const {
    if (Parsed() == nullptr)
        return false;
    auto found =
        m_pParsed->values.find(LowerCase(strSection) + "\n" + LowerCase(strKey));
    if (found == m_pParsed->values.end())
        return false;
    *pstrValue = found->second;
    return true;
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
    std::string strWhy;
    if (CheckProfileFile(m_strPath, &strWhy) == ProfileFileState::kUnusable)
        return NoteWrite(m_strPath + ": " + strWhy);
    // A line end inside a value would break the file into new entries.
    std::string strClean;
    for (char ch : strValue)
        strClean += (ch == '\n' || ch == '\r') ? ' ' : ch;
    strClean = Trim(strClean);

    CLines file = ReadLines(m_strPath);
    std::vector<CLine>& lines = file.lines;
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
    std::string strText = file.bByteOrderMark ? kByteOrderMark : "";
    for (const CLine& line : lines)
        strText += line.strText + line.strEnding;
    const int nError = ReplaceFile(m_strPath, strText);
    return NoteWrite(nError == 0 ? std::string()
                                 : m_strPath + ": " + std::strerror(nError));
}

bool CIniProfile::NoteWrite(const std::string& strFailure) {
    if (strFailure.empty()) {
        m_bFailing = false;
        return true;
    }
    if (!m_bFailing && m_onFailure)
        m_onFailure(strFailure);
    m_bFailing = true;
    return false;
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

void SetAppProfile(IProfile* pProfile) {
    g_pProfile = pProfile;
}
