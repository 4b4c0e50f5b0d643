#include "serial/CommDefinition.h"

#include "serial/TermiosDevice.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

std::string FormatCommDefinition(int nBaud, char chParity, int nDataBits,
                                 int nStopBits) {
    char szText[96];
    std::snprintf(szText, sizeof szText, "baud=%d parity=%c data=%d stop=%d", nBaud,
                  chParity, nDataBits, nStopBits);
    return std::string(szText); // up to the first NUL, as the C text reads
}

namespace {

bool ParseNumber(const std::string& strValue, int* pnValue) {
    if (strValue.empty() || strValue.size() > 9)
        return false;
    for (char ch : strValue) {
        if (!std::isdigit(static_cast<unsigned char>(ch)))
            return false;
    }
    *pnValue = std::atoi(strValue.c_str());
    return true;
}

} // namespace

bool ParseCommDefinition(const std::string& strDefinition, CLineFormat* pFormat) {
    CLineFormat format;
    bool bBaud = false, bParity = false, bData = false, bStop = false;
    std::istringstream in(strDefinition);
    std::string strToken;
    while (in >> strToken) {
        size_t nEquals = strToken.find('=');
        if (nEquals == std::string::npos)
            return false;
        std::string strKey = strToken.substr(0, nEquals);
        std::string strValue = strToken.substr(nEquals + 1);
        for (char& ch : strKey)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (strKey == "baud") {
            if (!ParseNumber(strValue, &format.nBaud) ||
                !CTermiosDevice::IsSupportedBaud(format.nBaud))
                return false;
            bBaud = true;
        } else if (strKey == "parity") {
            if (strValue.size() != 1)
                return false;
            char ch = static_cast<char>(
                std::toupper(static_cast<unsigned char>(strValue[0])));
            if (ch != 'N' && ch != 'E' && ch != 'O' && ch != 'M' && ch != 'S')
                return false;
            format.chParity = ch;
            bParity = true;
        } else if (strKey == "data") {
            if (!ParseNumber(strValue, &format.nDataBits) || format.nDataBits < 5 ||
                format.nDataBits > 8)
                return false;
            bData = true;
        } else if (strKey == "stop") {
            if (!ParseNumber(strValue, &format.nStopBits) ||
                (format.nStopBits != 1 && format.nStopBits != 2))
                return false;
            bStop = true;
        } else {
            return false;
        }
    }
    if (!(bBaud && bParity && bData && bStop))
        return false;
    *pFormat = format;
    return true;
}
