#include "session/Charset.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <iconv.h>
#include <vector>

namespace {

std::string Lower(std::string strText) {
    std::transform(strText.begin(), strText.end(), strText.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return strText;
}

void AppendEscaped(unsigned char ch, std::string* pstrText) {
    char szEscape[8];
    std::snprintf(szEscape, sizeof szEscape, "\\x%02X", ch);
    *pstrText += szEscape;
}

// Bytes below 80 hex as they are, every other escaped.
std::string AsciiText(const std::string& strBytes) {
    std::string strText;
    for (char c : strBytes) {
        const unsigned char ch = static_cast<unsigned char>(c);
        if (ch < 0x80)
            strText += c;
        else
            AppendEscaped(ch, &strText);
    }
    return strText;
}

// The iconv name of each charset that needs the library.
const char* IconvName(Charset charset) {
    switch (charset) {
    case Charset::kCp1252: return "CP1252";
    case Charset::kUtf8: return "UTF-8";
    default: return nullptr;
    }
}

// ASCII bytes as they are; from each byte of 80 hex up, the rest through
// iconv, which decodes up to the first byte it cannot: that byte is
// escaped alone and the decoding goes on after it.
std::string DecodeWithIconv(const std::string& strBytes, const char* szFrom) {
    iconv_t cd = iconv_open("UTF-8", szFrom);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return AsciiText(strBytes); // no converter: nothing is guessed
    std::string strText;
    std::vector<char> out(strBytes.size() * 4 + 16);
    size_t nAt = 0;
    while (nAt < strBytes.size()) {
        const unsigned char ch = static_cast<unsigned char>(strBytes[nAt]);
        if (ch < 0x80) {
            strText += static_cast<char>(ch);
            ++nAt;
            continue;
        }
        char* pIn = const_cast<char*>(strBytes.data() + nAt);
        size_t nInLeft = strBytes.size() - nAt;
        char* pOut = out.data();
        size_t nOutLeft = out.size();
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const size_t r = iconv(cd, &pIn, &nInLeft, &pOut, &nOutLeft);
        const size_t nDone = static_cast<size_t>(pIn - (strBytes.data() + nAt));
        strText.append(out.data(), static_cast<size_t>(pOut - out.data()));
        nAt += nDone;
        if (r == static_cast<size_t>(-1) && nAt < strBytes.size()) {
            // EILSEQ or EINVAL (a character cut off at the end): this byte
            // does not decode; go on after it.
            AppendEscaped(static_cast<unsigned char>(strBytes[nAt]), &strText);
            ++nAt;
        }
    }
    iconv_close(cd);
    return strText;
}

// What iconv lets through that is no text, escaped as the bytes that made
// it (the converter's output is then the input's bytes): C1 control
// characters (U+0080 to U+009F, C2 80 to C2 9F), and the forms beyond
// U+10FFFF (F4 90 and up, F5 to FD as lead bytes) that glibc passes on.
std::string EscapeNonText(const std::string& strText) {
    std::string strOut;
    for (size_t i = 0; i < strText.size(); ++i) {
        const unsigned char ch = static_cast<unsigned char>(strText[i]);
        const unsigned char next =
            i + 1 < strText.size() ? static_cast<unsigned char>(strText[i + 1]) : 0;
        size_t nBeyond = 0;
        if ((ch == 0xF4 && next >= 0x90) || (ch >= 0xF5 && ch <= 0xF7))
            nBeyond = 4;
        else if (ch >= 0xF8 && ch <= 0xFB)
            nBeyond = 5;
        else if (ch >= 0xFC && ch <= 0xFD)
            nBeyond = 6;
        if (nBeyond > 0) {
            for (size_t k = 0; k < nBeyond && i < strText.size(); ++k, ++i)
                AppendEscaped(static_cast<unsigned char>(strText[i]), &strOut);
            --i;
            continue;
        }
        if (ch == 0xC2 && next >= 0x80 && next <= 0x9F) {
            AppendEscaped(ch, &strOut);
            AppendEscaped(next, &strOut);
            ++i;
            continue;
        }
        strOut += strText[i];
    }
    return strOut;
}

} // namespace

bool ParseCharset(const std::string& strValue, Charset* pCharset) {
    const std::string strName = Lower(strValue);
    if (strName.empty() || strName == "ascii" || strName == "us-ascii")
        *pCharset = Charset::kAscii;
    else if (strName == "latin1" || strName == "latin-1" || strName == "iso-8859-1")
        *pCharset = Charset::kLatin1;
    else if (strName == "cp1252" || strName == "windows-1252")
        *pCharset = Charset::kCp1252;
    else if (strName == "utf-8" || strName == "utf8")
        *pCharset = Charset::kUtf8;
    else
        return false;
    return true;
}

const char* CharsetName(Charset charset) {
    switch (charset) {
    case Charset::kAscii: return "ascii";
    case Charset::kLatin1: return "latin1";
    case Charset::kCp1252: return "cp1252";
    case Charset::kUtf8: return "utf-8";
    }
    return "ascii";
}

std::string DecodeText(const std::string& strBytes, Charset charset) {
    const bool bHigh = std::any_of(strBytes.begin(), strBytes.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x80;
    });
    if (!bHigh)
        return strBytes;
    std::string strText;
    switch (charset) {
    case Charset::kAscii: return AsciiText(strBytes);
    case Charset::kLatin1:
        for (char c : strBytes) {
            const unsigned char ch = static_cast<unsigned char>(c);
            if (ch < 0x80) {
                strText += c;
            } else if (ch < 0xA0) {
                AppendEscaped(ch, &strText);
            } else {
                strText += static_cast<char>(0xC0 | (ch >> 6));
                strText += static_cast<char>(0x80 | (ch & 0x3F));
            }
        }
        return strText;
    case Charset::kCp1252:
    case Charset::kUtf8:
        return EscapeNonText(DecodeWithIconv(strBytes, IconvName(charset)));
    }
    return strBytes;
}

bool HasUnprintableBytes(const std::string& strBytes) {
    return std::any_of(strBytes.begin(), strBytes.end(), [](char c) {
        const unsigned char ch = static_cast<unsigned char>(c);
        return ch < 0x20 || ch > 0x7E;
    });
}

namespace {

std::string HexWith(const std::string& strBytes, const char* szBetween) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string strHex;
    strHex.reserve(strBytes.size() * 3);
    for (size_t i = 0; i < strBytes.size(); ++i) {
        const unsigned char ch = static_cast<unsigned char>(strBytes[i]);
        if (i > 0)
            strHex += szBetween;
        strHex += kDigits[ch >> 4];
        strHex += kDigits[ch & 0x0F];
    }
    return strHex;
}

} // namespace

std::string CompactHex(const std::string& strBytes) {
    return HexWith(strBytes, "");
}

std::string HexBytes(const std::string& strBytes) {
    return HexWith(strBytes, " ");
}
