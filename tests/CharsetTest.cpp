#include "session/Charset.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string AllHighBytes() {
    std::string strBytes;
    for (int b = 0x80; b <= 0xFF; ++b)
        strBytes += static_cast<char>(b);
    return strBytes;
}

// Whether the text is well-formed UTF-8 (no stray byte reaches a window,
// a JSON record or a mail).
bool IsUtf8(const std::string& strText) {
    for (size_t i = 0; i < strText.size();) {
        const unsigned char c = static_cast<unsigned char>(strText[i]);
        const size_t n = c < 0x80         ? 1
                         : (c >> 5) == 6  ? 2
                         : (c >> 4) == 14 ? 3
                         : (c >> 3) == 30 ? 4
                                          : 0;
        if (n == 0 || i + n > strText.size() || (n == 2 && c < 0xC2) || c > 0xF4 ||
            (c == 0xF4 && static_cast<unsigned char>(strText[i + 1]) >= 0x90))
            return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(strText[i + k]) & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

TEST(CharsetTest, NamesAreReadInAnyCaseAndOthersRefused) {
    Charset charset = Charset::kUtf8;
    EXPECT_TRUE(ParseCharset("", &charset));
    EXPECT_EQ(charset, Charset::kAscii);
    EXPECT_TRUE(ParseCharset("UTF8", &charset));
    EXPECT_EQ(charset, Charset::kUtf8);
    EXPECT_TRUE(ParseCharset("Windows-1252", &charset));
    EXPECT_EQ(charset, Charset::kCp1252);
    EXPECT_TRUE(ParseCharset("ISO-8859-1", &charset));
    EXPECT_EQ(charset, Charset::kLatin1);
    EXPECT_FALSE(ParseCharset("koi8-r", &charset));
    EXPECT_EQ(charset, Charset::kLatin1); // left alone
}

TEST(CharsetTest, EachCharsetDecodesItsOwnAndEscapesTheRest) {
    // ASCII and control characters pass in every charset.
    const std::string strLow("A\x1b\r~", 4);
    for (Charset charset :
         {Charset::kAscii, Charset::kLatin1, Charset::kCp1252, Charset::kUtf8})
        EXPECT_EQ(DecodeText(strLow, charset), strLow) << CharsetName(charset);

    EXPECT_EQ(DecodeText("CAF\xC9", Charset::kAscii), "CAF\\xC9");
    EXPECT_EQ(DecodeText("CAF\xC9 \x85", Charset::kLatin1), "CAF\xC3\x89 \\x85");
    EXPECT_EQ(DecodeText("\x80 5 \x81", Charset::kCp1252), "\xE2\x82\xAC 5 \\x81");
    EXPECT_EQ(DecodeText("CAF\xC3\x89 \xE2\x82\xAC", Charset::kUtf8),
              "CAF\xC3\x89 \xE2\x82\xAC");
    // Broken UTF-8: a lone continuation, an overlong slash, a cut-off
    // character at the end, a C1 control.
    EXPECT_EQ(DecodeText("A\x80"
                         "B",
                         Charset::kUtf8),
              "A\\x80B");
    EXPECT_EQ(DecodeText("\xC0\xAF", Charset::kUtf8), "\\xC0\\xAF");
    EXPECT_EQ(DecodeText("OK \xE2\x82", Charset::kUtf8), "OK \\xE2\\x82");
    EXPECT_EQ(DecodeText("\xC2\x85", Charset::kUtf8), "\\xC2\\x85");
    // Beyond U+10FFFF, and the old five- and six-byte forms.
    EXPECT_EQ(DecodeText("<\xF4\x90\x80\x80>", Charset::kUtf8),
              "<\\xF4\\x90\\x80\\x80>");
    EXPECT_EQ(DecodeText("\xF7\xBF\xBF\xBF", Charset::kUtf8), "\\xF7\\xBF\\xBF\\xBF");
    EXPECT_EQ(DecodeText("\xF8\x88\x80\x80\x80", Charset::kUtf8),
              "\\xF8\\x88\\x80\\x80\\x80");
    EXPECT_EQ(DecodeText("\xFC\x84\x80\x80\x80\x80!", Charset::kUtf8),
              "\\xFC\\x84\\x80\\x80\\x80\\x80!");
    EXPECT_EQ(DecodeText("\xF4\x8F\xBF\xBF", Charset::kUtf8),
              "\xF4\x8F\xBF\xBF"); // U+10FFFF
}

TEST(CharsetTest, EveryHighByteBecomesValidTextInEveryCharset) {
    // Every lead byte with every continuation after it decodes to text.
    for (int lead = 0xC0; lead <= 0xFF; ++lead)
        for (int next = 0x80; next <= 0xBF; ++next) {
            const std::string strBytes{static_cast<char>(lead),
                                       static_cast<char>(next),
                                       '\x80',
                                       '\x80',
                                       '\x80',
                                       '\x80'};
            EXPECT_TRUE(IsUtf8(DecodeText(strBytes, Charset::kUtf8)))
                << lead << " " << next;
        }
    for (Charset charset :
         {Charset::kAscii, Charset::kLatin1, Charset::kCp1252, Charset::kUtf8}) {
        const std::string strText = DecodeText("<" + AllHighBytes() + ">", charset);
        EXPECT_TRUE(IsUtf8(strText)) << CharsetName(charset);
        EXPECT_EQ(strText.front(), '<');
        EXPECT_EQ(strText.back(), '>');
    }
    EXPECT_EQ(CompactHex("\x01\xAB"
                         "z"),
              "01AB7A");
    EXPECT_EQ(HexBytes(std::string("\x02"
                                   "1\r\x00\xff",
                                   5)),
              "02 31 0D 00 FF");
    EXPECT_EQ(HexBytes(""), "");
    EXPECT_FALSE(HasUnprintableBytes(" ~"));
    EXPECT_TRUE(HasUnprintableBytes("\x7F"));
}

} // namespace
