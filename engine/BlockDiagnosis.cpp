#include "engine/BlockDiagnosis.h"

#include "engine/Checksum.h"
#include "engine/ControlNames.h"
#include "engine/Protocol.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr unsigned kChecksumMask = 0xFFF;
constexpr size_t kChecksumChars = 3;
constexpr int kFieldsTaken = 2; // pager ID, message

std::string Hex(unsigned char ch) {
    char sz[4];
    std::snprintf(sz, sizeof sz, "%02X", ch);
    return sz;
}

unsigned SumWith(const std::string& strBytes, unsigned (*value)(unsigned char)) {
    unsigned nSum = 0;
    for (char ch : strBytes)
        nSum += value(static_cast<unsigned char>(ch));
    return nSum & kChecksumMask;
}

// The usual mistakes of senders, each a way of summing the block's bytes.
void ChecksumHints(const std::string& strSummed, const std::string& strReceived,
                   std::vector<std::string>* pLines) {
    const unsigned nSum = BlockChecksum(strSummed.data(), strSummed.size());
    const unsigned nReceived = DecodeChecksum(strReceived.data());
    bool bOutside = false, bHexDigits = true;
    for (char ch : strReceived) {
        const unsigned char c = static_cast<unsigned char>(ch);
        bOutside = bOutside || c < 0x30 || c > 0x3F;
        bHexDigits = bHexDigits && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
    }
    if (bOutside) {
        pLines->push_back("   CHECKSUM CHARACTERS OUTSIDE 0-?");
        if (bHexDigits && std::stoul(strReceived, nullptr, 16) == nSum)
            pLines->push_back("   CALLER WRITES THE CHECKSUM AS HEXADECIMAL DIGITS; "
                              "EACH CHARACTER IS 0 PLUS FOUR BITS");
        return;
    }
    int nHighBit = 0;
    for (char ch : strSummed)
        nHighBit += (static_cast<unsigned char>(ch) & 0x80) != 0;
    if (nHighBit > 0) {
        if (SumWith(strSummed, [](unsigned char c) { return unsigned(c & 0x7F); }) ==
            nReceived)
            pLines->push_back("   CALLER SUMS 7-BIT VALUES (PARITY BIT SET ON " +
                              std::to_string(nHighBit) +
                              (nHighBit == 1 ? " BYTE" : " BYTES") +
                              "): CHECK THE LINE FORMAT (7E1 VS 8N1)");
        if (SumWith(strSummed, [](unsigned char c) { return unsigned(c); }) ==
            nReceived)
            pLines->push_back("   CALLER SUMS UNSIGNED BYTES");
    }
    if (((nSum + kCr) & kChecksumMask) == nReceived)
        pLines->push_back("   CALLER'S CHECKSUM COVERS THE TRAILING CR");
    if (((nSum - kEtx) & kChecksumMask) == nReceived)
        pLines->push_back("   CALLER'S CHECKSUM OMITS THE ETX");
    if (((nSum - kStx) & kChecksumMask) == nReceived)
        pLines->push_back("   CALLER'S CHECKSUM OMITS THE STX");
}

// The fields before the ETX, and what follows it.
void FieldHints(const std::string& strBlock, std::vector<std::string>* pLines) {
    const size_t nEtx = strBlock.find(kEtx);
    int nFields = 0;
    for (size_t i = 0; i < strBlock.size() && i < nEtx; ++i)
        nFields += strBlock[i] == kCr;
    if (nFields != kFieldsTaken)
        pLines->push_back("   " + std::to_string(nFields) +
                          (nFields == 1 ? " FIELD" : " FIELDS") +
                          "; THIS TERMINAL TAKES 2 (PAGER ID, MESSAGE)");
    else if (nEtx != std::string::npos &&
             strBlock.size() - nEtx - 1 != kChecksumChars + 1)
        pLines->push_back("   NO ETX BEFORE THE CHECKSUM: " +
                          std::to_string(strBlock.size() - nEtx - 1) +
                          " CHARACTERS AFTER THE ETX, THE CHECKSUM AND CR TAKE 4");
}

// Line ends other than a bare CR.
void LineEndHints(const std::string& strBlock, std::vector<std::string>* pLines) {
    bool bAfterCr = false, bAlone = false;
    for (size_t i = 0; i < strBlock.size(); ++i) {
        if (strBlock[i] != '\n')
            continue;
        (i > 0 && strBlock[i - 1] == kCr ? bAfterCr : bAlone) = true;
    }
    if (bAfterCr)
        pLines->push_back("   LF AFTER CR");
    if (bAlone)
        pLines->push_back("   LF WHERE CR IS EXPECTED");
}

// A control character inside a field must travel as SUB and a letter.
void ControlHints(const std::string& strBlock, std::vector<std::string>* pLines) {
    const size_t nEnd = std::min(strBlock.find(kEtx), strBlock.size());
    for (size_t i = 1; i < nEnd; ++i) {
        const unsigned char c = static_cast<unsigned char>(strBlock[i]);
        if (c < 0x20 && c != kCr && c != '\n' && c != kSub) {
            pLines->push_back("   CONTROL CHARACTER " + Hex(c) +
                              " IN A FIELD NOT MADE TRANSPARENT (SUB)");
            return;
        }
    }
}

} // namespace

std::vector<std::string> DiagnoseBlock(const std::string& strBlock,
                                       BlockVerdict verdict, int nTicks, int nDropped) {
    std::vector<std::string> lines;
    switch (verdict) {
    case BlockVerdict::kBadChecksum: {
        if (strBlock.size() < kChecksumChars + 2)
            break;
        const size_t nSummed = strBlock.size() - kChecksumChars - 1;
        const std::string strSummed = strBlock.substr(0, nSummed);
        const std::string strReceived = strBlock.substr(nSummed, kChecksumChars);
        lines.push_back("   CHECKSUM RECEIVED " + WithControlNames(strReceived) +
                        "; EXPECTED " +
                        ChecksumCharacters(BlockChecksum(strSummed.data(), nSummed)));
        ChecksumHints(strSummed, strReceived, &lines);
        break;
    }
    case BlockVerdict::kBadFormat: FieldHints(strBlock, &lines); break;
    case BlockVerdict::kTimedOut: {
        char szSeconds[16];
        std::snprintf(szSeconds, sizeof szSeconds, "%d.%d", nTicks / 10, nTicks % 10);
        int nCrs = 0;
        for (char ch : strBlock)
            nCrs += ch == kCr;
        const bool bEtx = strBlock.find(kEtx) != std::string::npos;
        lines.push_back(
            "   BLOCK TIMED OUT AFTER " + std::string(szSeconds) +
            " S: " + std::to_string(strBlock.size()) + " CHARACTERS, " +
            (bEtx ? "ONLY " + std::to_string(nCrs) + " CR OF 3" : "NO ETX"));
        if (bEtx)
            FieldHints(strBlock, &lines);
        break;
    }
    }
    if (nDropped > 0)
        lines.push_back("   LONGER THAN A BLOCK MAY BE (" +
                        std::to_string(kBlockLimit) +
                        " CHARACTERS): " + std::to_string(nDropped) +
                        " MORE NOT STORED; SPLIT LONG MESSAGES WITH ETB OR US");
    LineEndHints(strBlock, &lines);
    ControlHints(strBlock, &lines);
    return lines;
}

std::string CLineHints::OnByte(unsigned char ch) {
    // A caller sending 7 data bits with parity to a terminal set to 8N1
    // makes the top bit of every byte the parity of the other seven. Text
    // in a wider charset (UTF-8, Latin-1) has its high bytes without that
    // pattern: it gets no hint.
    unsigned nOnes = 0;
    for (unsigned v = ch & 0x7Fu; v != 0; v >>= 1)
        nOnes += v & 1u;
    const bool bTop = (ch & 0x80) != 0;
    ++m_nBytes;
    m_nHighBit += bTop ? 1 : 0;
    m_nEven += bTop == ((nOnes & 1u) != 0) ? 1 : 0; // even parity in the top bit
    m_nOdd += bTop != ((nOnes & 1u) != 0) ? 1 : 0;
    // Said where the caller ends a line (its CR, with or without the
    // parity bit), not in the middle of one.
    if ((ch & 0x7F) != '\r' || m_bSaid || m_nHighBit < kHighBitLimit)
        return {};
    const int nParity = m_nEven > m_nOdd ? m_nEven : m_nOdd;
    if (nParity * 10 < m_nBytes * 9)
        return {};
    m_bSaid = true;
    return "   THE HIGH BIT OF THE BYTES IS THEIR PARITY: THE CALLER SENDS 7 DATA BITS "
           "WITH PARITY; CHECK THE LINE FORMAT (7E1 VS 8N1)";
}

void CLineHints::NewSession() {
    m_nBytes = 0;
    m_nEven = 0;
    m_nOdd = 0;
    m_nHighBit = 0;
    m_bSaid = false;
}
