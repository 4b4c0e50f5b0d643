#include "ui/HelpBook.h"

#include "BuildInfo.h"

#include <unistd.h>

namespace {
const char kBookFile[] = "volnex.hhp";
}

std::vector<std::string> HelpBookCandidates(const std::string& strExeDir) {
    std::string strDir = strExeDir;
    if (!strDir.empty() && strDir.back() != '/')
        strDir += '/';
    return {strDir + "volnex-help/" + kBookFile,
            strDir + VOLNEX_HELP_DIR_FROM_BIN + "/" + kBookFile,
            std::string(VOLNEX_HELP_DIR) + "/" + kBookFile};
}

std::string FindHelpBook(const std::string& strExeDir) {
    std::vector<std::string> candidates = HelpBookCandidates(strExeDir);
    for (const std::string& strPath : candidates) {
        if (access(strPath.c_str(), R_OK) == 0)
            return strPath;
    }
    return candidates.front();
}
