#include "ui/ReportFile.h"

#include "serial/MessageBoxes.h"
#include "session/Clock.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kHeaderFormat =
    "Dudova Deza List Report saved:  %m/%d/%y %I:%M:%S %p";
constexpr const char* kOpenFailed = "Unable to open/create the file";
constexpr const char* kLineEnd = "\r\n";

std::string SystemText(int nError) {
    return std::strerror(nError);
}

// Writes the whole text; 0 or the errno of the failure (a full disk, a lost
// device).
int WriteAll(int fd, const std::string& strText) {
    size_t nDone = 0;
    while (nDone < strText.size()) {
        ssize_t r = write(fd, strText.data() + nDone, strText.size() - nDone);
        if (r > 0)
            nDone += static_cast<size_t>(r);
        else if (r < 0 && errno != EINTR)
            return errno;
        else if (r == 0)
            return EIO;
    }
    return 0;
}

// Where the report goes. A regular file (or a new one) is written under a
// temporary name in the same folder and renamed over the target only when
// all of it is on disk, so a failure leaves the old report as it was. A
// device or a FIFO (/dev/full, a pipe to a printer) cannot be replaced and
// is written where it is.
struct CTarget {
    std::string strPath;     // the file that ends up holding the report
    std::string strTempPath; // empty when written in place
    mode_t nMode = 0644;     // the permissions the report gets
    int fd = -1;
};

int OpenTarget(const std::string& strPath, CTarget* pTarget) {
    pTarget->strPath = strPath;
    struct stat st;
    if (stat(strPath.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            pTarget->fd = open(strPath.c_str(), O_WRONLY | O_CLOEXEC);
            return pTarget->fd < 0 ? errno : 0;
        }
        // The file a link names is replaced, and the link stays.
        if (char* szReal = realpath(strPath.c_str(), nullptr)) {
            pTarget->strPath = szReal;
            std::free(szReal);
        }
        if (access(pTarget->strPath.c_str(), W_OK) != 0)
            return errno; // a read-only report stays read-only
        pTarget->nMode = st.st_mode & 07777;
    }
    const size_t nSlash = pTarget->strPath.find_last_of('/');
    const std::string strFolder =
        nSlash == std::string::npos ? "" : pTarget->strPath.substr(0, nSlash + 1);
    const std::string strName = nSlash == std::string::npos
                                    ? pTarget->strPath
                                    : pTarget->strPath.substr(nSlash + 1);
    std::string strTemplate = strFolder + "." + strName + ".XXXXXX";
    std::vector<char> name(strTemplate.begin(), strTemplate.end());
    name.push_back('\0');
    pTarget->fd = mkostemp(name.data(), O_CLOEXEC);
    if (pTarget->fd < 0)
        return errno;
    pTarget->strTempPath = name.data();
    return 0;
}

// Ends the writing: 0 when the report is complete at its place, else the
// errno of the first failure, with the temporary file gone.
int FinishTarget(CTarget* pTarget, int nWriteError) {
    int nError = nWriteError;
    if (nError == 0 && fsync(pTarget->fd) != 0 && errno != EINVAL && errno != EROFS)
        nError = errno; // devices that cannot sync have nothing to lose
    if (nError == 0 && !pTarget->strTempPath.empty() &&
        fchmod(pTarget->fd, pTarget->nMode) != 0)
        nError = errno;
    if (close(pTarget->fd) != 0 && nError == 0)
        nError = errno;
    pTarget->fd = -1;
    if (pTarget->strTempPath.empty())
        return nError;
    if (nError == 0 &&
        rename(pTarget->strTempPath.c_str(), pTarget->strPath.c_str()) != 0)
        nError = errno;
    if (nError != 0)
        unlink(pTarget->strTempPath.c_str());
    return nError;
}

} // namespace

std::string FileErrorText(int nError, const std::string& strPath) {
    switch (nError) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return "Disk full while accessing " + strPath + ".";
    case EACCES:
    case EPERM:
    case EROFS: return "Access to " + strPath + " was denied.\n" + SystemText(nError);
    case EIO:
        return "A hardware I/O error was reported while accessing " + strPath + ".\n" +
               SystemText(nError);
    default:
        return "An unknown error occurred while accessing " + strPath + ".\n" +
               SystemText(nError);
    }
}

std::string ReportHeader(std::time_t when) {
    return FormatTimeC(kHeaderFormat, when);
}

namespace {

// The header (when there is one) and the lines, written as one file; the
// box counts nCount of what was saved.
ReportOutcome WriteLines(const std::string& strPath, const std::string* pstrHeader,
                         const std::vector<std::string>& lines, const char* szLineEnd,
                         size_t nCount, const char* szWhat, IMessageBoxes& boxes,
                         const std::string& strNote) {
    CTarget target;
    if (int nError = OpenTarget(strPath, &target)) {
        AppMessageBox(boxes,
                      std::string(kOpenFailed) + "\n" + strPath + ": " +
                          SystemText(nError),
                      MB_OK);
        return ReportOutcome::kOpenFailed;
    }
    int nError = pstrHeader ? WriteAll(target.fd, *pstrHeader + szLineEnd) : 0;
    for (size_t i = 0; nError == 0 && i < lines.size(); ++i)
        nError = WriteAll(target.fd, lines[i] + szLineEnd);
    nError = FinishTarget(&target, nError);
    if (nError != 0) {
        AppMessageBox(boxes, FileErrorText(nError, strPath), MB_OK | MB_ICONSTOP);
        return ReportOutcome::kWriteFailed;
    }
    // Counted only once every line is on disk in its place, and named: the
    // operator finds the file again by what the box said.
    AppMessageBox(boxes,
                  "Saved " + std::to_string(nCount) + " " + szWhat + " to " + strPath +
                      (strNote.empty() ? "" : "\n" + strNote),
                  MB_OK);
    return ReportOutcome::kSaved;
}

} // namespace

ReportOutcome SaveReportToFile(const std::string& strPath,
                               const std::vector<std::string>& lines, std::time_t when,
                               IMessageBoxes& boxes, const std::string& strNote) {
    const std::string strHeader = ReportHeader(when);
    return WriteLines(strPath, &strHeader, lines, kLineEnd, lines.size(), "lines",
                      boxes, strNote);
}

ReportOutcome SaveLinesToFile(const std::string& strPath,
                              const std::vector<std::string>& lines,
                              const char* szLineEnd, size_t nCount, const char* szWhat,
                              IMessageBoxes& boxes, const std::string& strNote) {
    return WriteLines(strPath, nullptr, lines, szLineEnd, nCount, szWhat, boxes,
                      strNote);
}
