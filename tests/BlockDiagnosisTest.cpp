#include "engine/BlockDiagnosis.h"
#include "engine/Checksum.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const std::string kStx = "\x02", kEtx = "\x03", kCr = "\r";

std::string Body(const std::string& strPager, const std::string& strMessage) {
    return kStx + strPager + kCr + strMessage + kCr + kEtx;
}

// The block as a sender that sums in its own way puts it on the line.
std::string Sent(const std::string& strBody, unsigned nSum) {
    return strBody + ChecksumCharacters(nSum & 0xFFF) + kCr;
}

unsigned Signed(const std::string& strBody) {
    return BlockChecksum(strBody.data(), strBody.size());
}
unsigned Unsigned(const std::string& strBody) {
    unsigned n = 0;
    for (char ch : strBody)
        n += static_cast<unsigned char>(ch);
    return n;
}
unsigned SevenBit(const std::string& strBody) {
    unsigned n = 0;
    for (char ch : strBody)
        n += static_cast<unsigned char>(ch) & 0x7F;
    return n;
}

// Each cause, as a sender that makes that mistake sends the block.
TEST(BlockDiagnosisTest, AChecksumFailureSaysWhatWouldHaveMatched) {
    const std::string strPlain = Body("1234", "HI");
    // "RÉSERVÉ À" in ISO 8859-1: three bytes with the high bit set.
    const std::string strAccents = Body("77", "R\xC9SERV\xC9 \xC0 8");
    const std::string strExpected = ChecksumCharacters(Signed(strAccents));
    struct {
        const char* szCause;
        std::string strBlock;
        Lines lines;
    } cases[] = {
        {"a wrong checksum no mistake explains",
         strPlain + "17;" + kCr,
         {"   CHECKSUM RECEIVED 17;; EXPECTED 17:"}},
        {"7-bit values: the parity bit summed in",
         Sent(strAccents, SevenBit(strAccents)),
         {"   CHECKSUM RECEIVED " + ChecksumCharacters(SevenBit(strAccents) & 0xFFF) +
              "; EXPECTED " + strExpected,
          "   CALLER SUMS 7-BIT VALUES (PARITY BIT SET ON 3 BYTES): CHECK THE LINE "
          "FORMAT (7E1 VS 8N1)"}},
        {"unsigned bytes",
         Sent(strAccents, Unsigned(strAccents)),
         {"   CHECKSUM RECEIVED " + ChecksumCharacters(Unsigned(strAccents) & 0xFFF) +
              "; EXPECTED " + strExpected,
          "   CALLER SUMS UNSIGNED BYTES"}},
        {"the trailing CR summed in",
         Sent(strPlain, Signed(strPlain) + 0x0D),
         {"   CHECKSUM RECEIVED 187; EXPECTED 17:",
          "   CALLER'S CHECKSUM COVERS THE TRAILING CR"}},
        {"the ETX left out",
         Sent(strPlain, Signed(strPlain) - 0x03),
         {"   CHECKSUM RECEIVED 177; EXPECTED 17:",
          "   CALLER'S CHECKSUM OMITS THE ETX"}},
        {"the checksum as hexadecimal digits",
         strPlain + "17A" + kCr,
         {"   CHECKSUM RECEIVED 17A; EXPECTED 17:",
          "   CHECKSUM CHARACTERS OUTSIDE 0-?",
          "   CALLER WRITES THE CHECKSUM AS HEXADECIMAL DIGITS; EACH CHARACTER IS 0 "
          "PLUS "
          "FOUR BITS"}},
        {"control characters in the checksum",
         strPlain + "1\x01:" + kCr,
         {"   CHECKSUM RECEIVED 1<SOH>:; EXPECTED 17:",
          "   CHECKSUM CHARACTERS OUTSIDE 0-?"}},
        {"CR LF line ends, the LF not summed",
         Sent(kStx + "1234\r\nHI\r\n" + kEtx, Signed(strPlain)),
         {"   CHECKSUM RECEIVED 17:; EXPECTED 18>", "   LF AFTER CR"}},
        {"an escape not made transparent",
         Sent(Body("12", "A\x1b"
                         "B"),
              0),
         {"   CHECKSUM RECEIVED 000; EXPECTED 120",
          "   CONTROL CHARACTER 1B IN A FIELD NOT MADE TRANSPARENT (SUB)"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DiagnoseBlock(c.strBlock, BlockVerdict::kBadChecksum, 0), c.lines)
            << c.szCause;
}

TEST(BlockDiagnosisTest, AFormatFailureSaysWhatTheBlockHeld) {
    struct {
        const char* szCause;
        std::string strBlock; // as stored when it was judged
        Lines lines;
    } cases[] = {
        // Judged at its ETX, before any checksum arrived.
        {"a third field",
         kStx + "1234\rHELLO\rWORLD\r" + kEtx,
         {"   3 FIELDS; THIS TERMINAL TAKES 2 (PAGER ID, MESSAGE)"}},
        {"a message with a raw CR and an escape",
         kStx + "1234\rLINE 1\rLINE\x1b 2\r" + kEtx,
         {"   3 FIELDS; THIS TERMINAL TAKES 2 (PAGER ID, MESSAGE)",
          "   CONTROL CHARACTER 1B IN A FIELD NOT MADE TRANSPARENT (SUB)"}},
        {"a checksum of two characters",
         kStx + "1234\rHI\r" + kEtx + "17\r",
         {"   NO ETX BEFORE THE CHECKSUM: 3 CHARACTERS AFTER THE ETX, THE CHECKSUM AND "
          "CR "
          "TAKE 4"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DiagnoseBlock(c.strBlock, BlockVerdict::kBadFormat, 0), c.lines)
            << c.szCause;
}

TEST(BlockDiagnosisTest, ATimeOutSaysHowMuchArrivedAndWhatWasMissing) {
    EXPECT_EQ(DiagnoseBlock(kStx + "1234\rHELLO\r", BlockVerdict::kTimedOut, 81),
              (Lines{"   BLOCK TIMED OUT AFTER 8.1 S: 12 CHARACTERS, NO ETX"}));
    EXPECT_EQ(
        DiagnoseBlock(kStx + "1234\r" + kEtx + "17:\r", BlockVerdict::kTimedOut, 81),
        (Lines{"   BLOCK TIMED OUT AFTER 8.1 S: 11 CHARACTERS, ONLY 2 CR OF 3",
               "   1 FIELD; THIS TERMINAL TAKES 2 (PAGER ID, MESSAGE)"}));
    // A sender that ends its lines with LF alone never completes a block.
    EXPECT_EQ(DiagnoseBlock(kStx + "1234\nHI\n" + kEtx + "17:\n",
                            BlockVerdict::kTimedOut, 81),
              (Lines{"   BLOCK TIMED OUT AFTER 8.1 S: 14 CHARACTERS, ONLY 0 CR OF 3",
                     "   0 FIELDS; THIS TERMINAL TAKES 2 (PAGER ID, MESSAGE)",
                     "   LF WHERE CR IS EXPECTED"}));
}

// The byte as a caller with 7 data bits and even parity sends it, read by
// a terminal set to 8N1.
unsigned char WithEvenParity(char c) {
    unsigned nOnes = 0;
    for (unsigned v = static_cast<unsigned char>(c); v != 0; v >>= 1)
        nOnes += v & 1u;
    return static_cast<unsigned char>(c | ((nOnes & 1u) ? 0x80 : 0));
}

TEST(BlockDiagnosisTest, ParityInTheHighBitIsSaidOncePerSessionAtALinesEnd) {
    CLineHints hints;
    std::string strSaid;
    for (char c : std::string("\x02"
                              "1234\rMOVE BED 7\r"))
        strSaid += (c == '\r' ? "|" : "") + hints.OnByte(WithEvenParity(c));
    // Not in the middle of a line: at the CR that ends one.
    EXPECT_EQ(strSaid.substr(0, 1), "|");
    EXPECT_NE(strSaid.find("7E1 VS 8N1"), std::string::npos) << strSaid;
    EXPECT_EQ(strSaid.find('\n'), std::string::npos); // one line
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(hints.OnByte(WithEvenParity('\r')), "");
    hints.NewSession();
    std::string strAgain;
    for (char c : std::string("ROOM 12\r"))
        strAgain += hints.OnByte(WithEvenParity(c));
    EXPECT_NE(strAgain, "");
}

// Text in a wider charset has high bytes that are no parity: no hint.
TEST(BlockDiagnosisTest, Utf8AndLatin1TextGetNoParityHint) {
    for (const std::string& strText :
         {std::string("\x02"
                      "77\rSTATION \xC3\x9C\xC3\x84 \xC3\xA9\xC3\xA8 \xE2\x82\xAC\r"),
          std::string("\x02"
                      "77\rR\xC9SERV\xC9 \xC0 \xC9T\xC9 \xE0 \xC7"
                      "A\r")}) {
        CLineHints hints;
        std::string strSaid;
        for (int nRound = 0; nRound < 5; ++nRound)
            for (char c : strText)
                strSaid += hints.OnByte(static_cast<unsigned char>(c));
        EXPECT_EQ(strSaid, "") << strText;
    }
}

} // namespace
