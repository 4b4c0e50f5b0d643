#include "engine/Checksum.h"

#include "engine/Protocol.h"

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

std::string MakeBlock(const std::string& strFields, char chEnd) {
    const std::string strBody = std::string(1, kStx) + strFields + chEnd;
    return strBody + ChecksumCharacters(BlockChecksum(strBody.data(), strBody.size())) +
           kCr;
}

std::string MakePageBlock(const std::string& strPager, const std::string& strMessage) {
    return MakeBlock(strPager + kCr + strMessage + kCr, kEtx);
}

std::vector<std::string> MakePageBlocks(const std::string& strPager,
                                        const std::string& strMessage, int nBlockSize) {
    const std::string strFields = strPager + kCr + strMessage + kCr;
    const size_t nSize = static_cast<size_t>(nBlockSize);
    std::vector<std::string> blocks;
    for (size_t nAt = 0; nAt < strFields.size(); nAt += nSize) {
        const std::string strPart = strFields.substr(nAt, nSize);
        const bool bLast = nAt + nSize >= strFields.size();
        // A field that goes on after US carries no CR at the cut.
        blocks.push_back(MakeBlock(strPart, bLast                   ? kEtx
                                            : strPart.back() == kCr ? kEtb
                                                                    : kUs));
    }
    return blocks;
}
