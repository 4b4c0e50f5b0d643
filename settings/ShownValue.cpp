#include "settings/ShownValue.h"

std::string CutWithLength(const std::string& strText, size_t nLimit) {
    if (strText.size() <= nLimit)
        return strText;
    size_t nKeep = nLimit;
    while (nKeep > 0 && (static_cast<unsigned char>(strText[nKeep]) & 0xC0) == 0x80)
        --nKeep; // a UTF-8 continuation byte
    return strText.substr(0, nKeep) + "... (" + std::to_string(strText.size()) +
           " characters)";
}

std::string ShownValue(const std::string& strValue) {
    return CutWithLength(strValue, kShownValueLimit);
}
