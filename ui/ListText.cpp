#include "ui/ListText.h"

#include "engine/ControlNames.h"

#include <algorithm>

namespace {

char FoldCase(char ch) {
    return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 32) : ch;
}

constexpr const char* kHexGap = "    ";

} // namespace

std::string ShownListLine(const std::string& strLine) {
    const bool bControl = std::any_of(strLine.begin(), strLine.end(), [](char ch) {
        return static_cast<unsigned char>(ch) < 0x20;
    });
    if (!bControl)
        return strLine;
    std::string strShown;
    for (size_t i = 0; i < strLine.size(); ++i) {
        const char* szName = ControlName(static_cast<unsigned char>(strLine[i]));
        if (szName != nullptr && !(i == 0 && strLine[i] == '\t'))
            strShown += szName;
        else
            strShown += strLine[i];
    }
    return strShown;
}

bool LineHolds(const std::string& strLine, const std::string& strText,
               bool bMatchCase) {
    if (bMatchCase)
        return strLine.find(strText) != std::string::npos;
    auto same = [](char a, char b) { return FoldCase(a) == FoldCase(b); };
    return std::search(strLine.begin(), strLine.end(), strText.begin(), strText.end(),
                       same) != strLine.end();
}

std::string WithHexBytes(const std::string& strLine, const std::string& strHex) {
    return strHex.empty() ? strLine : strLine + kHexGap + "[" + strHex + "]";
}
