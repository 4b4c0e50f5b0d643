// Writing a list of lines as a text report: a header with the time it was
// saved, then every line unchanged, each ending in CR LF.
//
// SaveReportToFile runs the writing and tells the operator the outcome
// ("Saved %d lines to <path>", "Unable to open/create the file", or the file error),
// without any window: the list box's SaveReport asks for the path and hands
// over its lines. A report replaces an existing file only once all of it is
// on disk: a full disk or a lost device leaves the old file as it was.
// SaveLinesToFile writes other files of lines (the page list as CSV or JSON
// lines) the same way.
#pragma once

#include <ctime>
#include <string>
#include <vector>

class IMessageBoxes;

// "Dudova Deza List Report saved:  %m/%d/%y %I:%M:%S %p" in the "C" locale,
// always 52 characters.
std::string ReportHeader(std::time_t when);

// The file error report for an errno: "Disk full while accessing <path>."
// for a full disk or quota, otherwise the kind of failure and the system's
// text.
std::string FileErrorText(int nError, const std::string& strPath);

enum class ReportOutcome {
    kSaved,       // every line on disk at the chosen path
    kOpenFailed,  // nothing touched
    kWriteFailed, // nothing replaced; an existing file keeps its content
};

// strNote, when not empty, is said on a line of its own after the count.
ReportOutcome SaveReportToFile(const std::string& strPath,
                               const std::vector<std::string>& lines, std::time_t when,
                               IMessageBoxes& boxes,
                               const std::string& strNote = std::string());

// Writes the lines, each followed by szLineEnd, and says "Saved <nCount>
// <szWhat> to <path>" and strNote under it (or what failed, as
// SaveReportToFile does).
ReportOutcome SaveLinesToFile(const std::string& strPath,
                              const std::vector<std::string>& lines,
                              const char* szLineEnd, size_t nCount, const char* szWhat,
                              IMessageBoxes& boxes,
                              const std::string& strNote = std::string());
