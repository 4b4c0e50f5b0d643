#include "session/TraceRender.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class CVectorList : public ITraceList {
  public:
    unsigned Count() const override { return static_cast<unsigned>(lines.size()); }
    std::string Line(unsigned n) const override { return lines.at(n); }
    void DropOldest() override { lines.erase(lines.begin()); }
    void Add(const std::string& s) override { lines.push_back(s); }
    void ReplaceLast(const std::string& s) override { lines.back() = s; }
    std::vector<std::string> lines;
};

class TraceRenderTest : public ::testing::Test {
  protected:
    void Sent(const std::string& s) { RenderTrace(list, true, s); }
    void Received(const std::string& bytes) {
        for (char ch : bytes)
            RenderTrace(list, false, std::string(1, ch));
    }
    CVectorList list;
};

TEST_F(TraceRenderTest, ALogonAndOnePageGiveTheNineLines) {
    Sent("\x1b\x04\r");
    Received("\r");
    Sent("ID=");
    Received("\x1bPG1\r");
    Sent("\x06\r\x1b[p\r");
    Received("\x02"
             "1234\rHELLO\r\x03"
             "ccc\r");
    Sent("\x06\r");
    EXPECT_EQ(list.lines,
              (std::vector<std::string>{
                  "<=  <ESC><EOT><CR>", "=>  <CR>", "<=  ID=", "=>  <ESC>PG1<CR>",
                  "<=  <ACK><CR><ESC>[p<CR>", "=>  <STX>1234<CR>", "=>  HELLO<CR>",
                  "=>  <ETX>ccc<CR>", "<=  <ACK><CR>"}));
}

TEST_F(TraceRenderTest, AMessageSequenceShowsOnALineOfItsOwn) {
    Sent("110 1.8\r\x06\r\x1b[p\r");
    Sent("211 PAGE(S) SENT SUCCESSFULLY\r\x06\r");
    Sent("\x06\r\x1b[p\r"); // a bare answer stays one line
    Sent("ID=");
    EXPECT_EQ(list.lines, (std::vector<std::string>{
                              "<=  110 1.8<CR>", "<=  <ACK><CR><ESC>[p<CR>",
                              "<=  211 PAGE(S) SENT SUCCESSFULLY<CR>", "<=  <ACK><CR>",
                              "<=  <ACK><CR><ESC>[p<CR>", "<=  ID="}));
}

TEST_F(TraceRenderTest, ControlCharactersByNameOthersUnchanged) {
    Received(std::string("\r\n\x1f\xe9\x7f\0\x10\x11", 8));
    EXPECT_EQ(list.lines, (std::vector<std::string>{
                              "=>  <CR>", "=>  <LF><US>\xe9\x7f<NUL><SLE><CS1>"}));
}

TEST_F(TraceRenderTest, AReceivedLineHoldsAWholeBlockThenGetsTwoWarnings) {
    // A block's longest line: its STX, 250 characters and the CR, shown
    // with names; control characters count as the byte they stand for.
    Received("\x02" + std::string(250, 'x') + "\r");
    ASSERT_EQ(list.lines.size(), 1u);
    EXPECT_EQ(list.lines[0], "=>  <STX>" + std::string(250, 'x') + "<CR>");

    list.lines.clear();
    Received(std::string(255, 'x') + "\x1f"); // 256 bytes: a whole block
    ASSERT_EQ(list.lines.size(), 1u);
    Received("y");
    EXPECT_EQ(list.lines,
              (std::vector<std::string>{
                  "=>  " + std::string(255, 'x') + "<US>", "   BUFFER SIZE EXCEEDED!",
                  "   YOU MAY HAVE MISMATCHED SERIAL PORT SETTINGS!"}));
    Received("z");
    EXPECT_EQ(list.lines.back(), "=>  z");
}

TEST_F(TraceRenderTest, AFullListDropsItsOldestLinesWhateverComes) {
    for (int i = 0; i < 500; ++i)
        list.lines.push_back("<=  line " + std::to_string(i));
    Received("A"); // a new received line: line 0 goes
    ASSERT_EQ(list.lines.size(), 500u);
    EXPECT_EQ(list.lines.front(), "<=  line 1");
    Received("B\r"); // the open line grows in place: nothing goes
    ASSERT_EQ(list.lines.size(), 500u);
    EXPECT_EQ(list.lines.front(), "<=  line 1");
    EXPECT_EQ(list.lines.back(), "=>  AB<CR>");
    Sent("ID=");
    EXPECT_EQ(list.lines.front(), "<=  line 2");
    EXPECT_EQ(list.lines[498], "=>  AB<CR>"); // the received line stays
    EXPECT_EQ(list.lines[499], "<=  ID=");
    // Both warning lines come in, two old lines go.
    Received(std::string(kTraceLineLimit + 1, 'x'));
    ASSERT_EQ(list.lines.size(), 500u);
    EXPECT_EQ(list.lines.front(), "<=  line 5");
    EXPECT_EQ(list.lines[497], "=>  " + std::string(kTraceLineLimit, 'x'));
    EXPECT_EQ(list.lines[499], "   YOU MAY HAVE MISMATCHED SERIAL PORT SETTINGS!");
}

TEST_F(TraceRenderTest, ALongSessionKeepsTheNewest500Lines) {
    // Three received lines and one answer a page.
    for (int i = 0; i < 2000; ++i) {
        Received("\x02" + std::to_string(i) +
                 "\rHI\r\x03"
                 "ccc\r");
        Sent("\x06\r");
    }
    ASSERT_EQ(list.lines.size(), kTraceListLimit);
    EXPECT_EQ(list.lines[0], "=>  <STX>1875<CR>"); // 125 whole pages of four lines
    EXPECT_EQ(list.lines[496], "=>  <STX>1999<CR>");
    EXPECT_EQ(list.lines.back(), "<=  <ACK><CR>");
}

TEST_F(TraceRenderTest, TraceWithoutAWindowIsFreedAndNothingShown) {
    // Run under LeakSanitizer: the text must be freed on this path too.
    HandleProtocolTrace(nullptr, kTraceSent,
                        ReleaseTraceText(std::make_unique<std::string>("ID=")));
    HandleProtocolTrace(&list, kTraceReceived,
                        ReleaseTraceText(std::make_unique<std::string>("\r")));
    EXPECT_EQ(list.lines, std::vector<std::string>{"=>  <CR>"});
}

// A list that keeps the bytes behind each line, as the protocol window does
// for its hex view.
class CBytesList : public CVectorList {
  public:
    void Add(const std::string& s) override {
        CVectorList::Add(s);
        bytes.emplace_back();
    }
    void DropOldest() override {
        CVectorList::DropOldest();
        bytes.erase(bytes.begin());
    }
    void NoteBytes(const std::string& b) override { bytes.back() += b; }
    std::vector<std::string> bytes;
};

TEST(TraceRenderBytesTest, EachLineIsToldTheBytesItShowsAndWarningsNone) {
    CBytesList list;
    RenderTrace(list, true,
                std::string("\x06\r\0junk", 7)); // a sent text ends at its NUL
    for (char ch : std::string("\x02"
                               "1\r"))
        RenderTrace(list, false, std::string(1, ch));
    RenderNote(list, "   PEER CAME");
    EXPECT_EQ(list.bytes, (std::vector<std::string>{"\x06\r",
                                                    "\x02"
                                                    "1\r",
                                                    ""}));
    // A character refused at the line limit is on no line.
    for (size_t i = 0; i <= kTraceLineLimit; ++i)
        RenderTrace(list, false, "x");
    ASSERT_EQ(list.lines.size(), 6u);
    EXPECT_EQ(list.bytes[3], std::string(kTraceLineLimit, 'x'));
    EXPECT_EQ(list.bytes[4], "");
    EXPECT_EQ(list.bytes[5], "");
    // A message sequence on a line of its own carries its own bytes.
    RenderTrace(list, true, "211 Accepted\r\x06\r");
    ASSERT_EQ(list.bytes.size(), 8u);
    EXPECT_EQ(list.bytes[6], "211 Accepted\r");
    EXPECT_EQ(list.bytes[7], "\x06\r");
    // The bytes leave with their line.
    for (unsigned i = 0; i < kTraceListLimit; ++i)
        RenderTrace(list, true, "A");
    EXPECT_EQ(list.bytes.size(), list.lines.size());
    EXPECT_EQ(list.bytes.front(), "A");
}

} // namespace
