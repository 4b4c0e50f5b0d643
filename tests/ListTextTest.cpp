#include "ui/ListText.h"

#include <gtest/gtest.h>

namespace {

TEST(ListTextTest, ControlCharactersShowByNameExceptALeadingTab) {
    EXPECT_EQ(ShownListLine("104 FIRE\r\nEXIT"), "104 FIRE<CR><LF>EXIT");
    EXPECT_EQ(ShownListLine("\tBAD PAGE - INVALID CHECKSUM"),
              "\tBAD PAGE - INVALID CHECKSUM");
    EXPECT_EQ(ShownListLine("A\tB\t"), "A<HT>B<HT>");
    EXPECT_EQ(ShownListLine(std::string("\0x", 2)), "<NUL>x");
    EXPECT_EQ(ShownListLine("\x1f\x20\x7f\xe9"), "<US> \x7f\xe9"); // only 00 to 1F
    EXPECT_EQ(ShownListLine(""), "");
}

TEST(ListTextTest, MatchingIgnoresCaseOfLettersUnlessAsked) {
    EXPECT_TRUE(LineHolds("12/08/2026 1234 Fire drill", "FIRE", false));
    EXPECT_FALSE(LineHolds("12/08/2026 1234 Fire drill", "FIRE", true));
    EXPECT_TRUE(LineHolds("12/08/2026 1234 Fire drill", "Fire", true));
    EXPECT_TRUE(LineHolds("anything", "", false));
    EXPECT_FALSE(LineHolds("", "x", false));
    EXPECT_FALSE(LineHolds("12", "123", false)); // longer than the line
    // Only A to Z fold: bytes above 7F match as they are.
    EXPECT_FALSE(LineHolds("\xe9", "\xc9", false));
    EXPECT_TRUE(LineHolds("x[y", "X[Y", false));
    EXPECT_FALSE(LineHolds("{", "[", false)); // '{' is not '[' in another case
}

TEST(ListTextTest, HexShowsEveryByteAfterTheLine) {
    EXPECT_EQ(WithHexBytes("=>  <STX>1<CR>", "02 31 0D"),
              "=>  <STX>1<CR>    [02 31 0D]");
    EXPECT_EQ(WithHexBytes("   BUFFER SIZE EXCEEDED!", ""), "   BUFFER SIZE EXCEEDED!");
}

} // namespace
