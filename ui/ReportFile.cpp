#include "ui/ReportFile.h"

#include "engine/MessageBoxes.h"
#include "ui/Clock.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* kHeaderFormat =
    "Dudova Deza List Report saved:  %m/%d/%y %I:%M:%S %p";
constexpr const char* kOpenFailed = "Unable to open/create the file";
constexpr const char* kLineEnd = "\r\n";

// Writes the whole text; false on any failure (a full disk, a lost device).
bool WriteAll(int fd, const std::string& strText) {
    size_t nDone = 0;
    while (nDone < strText.size()) {
        ssize_t r = write(fd, strText.data() + nDone, strText.size() - nDone);
        if (r > 0)
            nDone += static_cast<size_t>(r);
        else if (!(r < 0 && errno == EINTR))
            return false;
    }
    return true;
}

void ReportDiskFull(IMessageBoxes& boxes, const std::string& strPath) {
    AppMessageBox(boxes, "Disk full while accessing " + strPath + ".",
                  MB_OK | MB_ICONSTOP);
}

} // namespace

std::string ReportHeader(std::time_t when) { return FormatTimeC(kHeaderFormat, when); }

ReportOutcome SaveReportToFile(const std::string& strPath,
                               const std::vector<std::string>& lines,
                               std::time_t when, IMessageBoxes& boxes) {
    int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        AppMessageBox(boxes, kOpenFailed, MB_OK);
        return ReportOutcome::kOpenFailed;
    }
    // Each line goes to the file as it is written, so that a failure shows
    // at the line that failed and what came before stays on disk.
    bool bOk = WriteAll(fd, ReportHeader(when) + kLineEnd);
    for (size_t i = 0; bOk && i < lines.size(); ++i)
        bOk = WriteAll(fd, lines[i] + kLineEnd);
    if (!bOk) {
        close(fd);
        ReportDiskFull(boxes, strPath);
        return ReportOutcome::kWriteFailed;
    }
    AppMessageBox(boxes, "Saved " + std::to_string(lines.size()) + " lines", MB_OK);
    bool bClosed = fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    bClosed = close(fd) == 0 && bClosed;
    if (!bClosed) {
        ReportDiskFull(boxes, strPath);
        return ReportOutcome::kCloseFailed;
    }
    return ReportOutcome::kSaved;
}
