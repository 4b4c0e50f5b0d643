// Writing a list of lines as a text report: a header with the time it was
// saved, then every line unchanged, each ending in CR LF.
//
// SaveReportToFile runs the writing and the three outcomes the operator is
// told about ("Saved %d lines", "Unable to open/create the file", the
// disk-full report), without any window: the list box's SaveReport asks for
// the path and hands over its lines.
#pragma once

#include <ctime>
#include <string>
#include <vector>

class IMessageBoxes;

// "Dudova Deza List Report saved:  %m/%d/%y %I:%M:%S %p" in the "C" locale,
// always 52 characters.
std::string ReportHeader(std::time_t when);

enum class ReportOutcome {
    kSaved,       // every line written and the file closed
    kOpenFailed,  // nothing touched
    kWriteFailed, // what was written before the failure stays
    kCloseFailed, // the count was shown, then the failure
};

ReportOutcome SaveReportToFile(const std::string& strPath,
                               const std::vector<std::string>& lines,
                               std::time_t when, IMessageBoxes& boxes);
