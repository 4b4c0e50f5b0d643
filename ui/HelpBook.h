// Where the help book (volnex.hhp and its pages) is found.
//
// In the build tree it sits beside the executable, in volnex-help/. An
// installed program finds it under the data folder, first relative to its
// own folder (bin/../share/volnex/help), then where it was built to be
// installed.
#pragma once

#include <string>
#include <vector>

// The places looked at, in order, for an executable in strExeDir.
std::vector<std::string> HelpBookCandidates(const std::string& strExeDir);

// The first candidate that holds volnex.hhp; when none does, the first
// candidate, so that the help viewer names the book it could not find.
std::string FindHelpBook(const std::string& strExeDir);
