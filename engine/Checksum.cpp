#include "engine/Checksum.h"

unsigned BlockChecksum(const char* pBytes, size_t nLength) {
    int nSum = 0;
    for (size_t i = 0; i < nLength; ++i)
        nSum += static_cast<signed char>(pBytes[i]);
    return static_cast<unsigned>(nSum) & 0xFFFu;
}

std::string ChecksumCharacters(unsigned nSum) {
    std::string text(3, '0');
    text[0] = static_cast<char>(0x30 + ((nSum >> 8) & 0xF));
    text[1] = static_cast<char>(0x30 + ((nSum >> 4) & 0xF));
    text[2] = static_cast<char>(0x30 + (nSum & 0xF));
    return text;
}

unsigned DecodeChecksum(const char* pThree) {
    return ((static_cast<unsigned>(pThree[0]) & 0xF) << 8) |
           ((static_cast<unsigned>(pThree[1]) & 0xF) << 4) |
           (static_cast<unsigned>(pThree[2]) & 0xF);
}
