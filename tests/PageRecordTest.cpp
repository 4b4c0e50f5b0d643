// Page records in the forms other tools read: JSON lines and CSV.
#include "session/PageRecord.h"
#include "session/Charset.h"
#include "session/PageRecordList.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <ctime>

namespace {

// The time zone for one test, given back after it.
class CTimeZone {
  public:
    explicit CTimeZone(const char* szZone) {
        if (const char* szOld = std::getenv("TZ"))
            m_strOld = szOld, m_bHad = true;
        setenv("TZ", szZone, 1);
        tzset();
    }
    ~CTimeZone() {
        if (m_bHad)
            setenv("TZ", m_strOld.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    std::string m_strOld;
    bool m_bHad = false;
};

CPageRecord Sample() {
    CPageRecord record;
    record.nTimeMs = 1796738700250; // 2026-12-08 14:05:00.250 UTC
    record.nPort = 2;
    record.strDevice = "/dev/ttyUSB0";
    record.strPager = "1234";
    record.strMessage = "HI";
    record.verdict = PageVerdict::kTimedOut;
    record.strResult = "\tTIMED OUT ";
    record.nBlocks = 1;
    return record;
}

TEST(PageRecordTest, LocalTimeHasMillisecondsAndTheOffsetFromUtc) {
    {
        CTimeZone zone("UTC");
        EXPECT_EQ(IsoLocalTime(1796738700250), "2026-12-08T14:05:00.250+00:00");
    }
    {
        CTimeZone zone("XST-5:30"); // 5 h 30 east of UTC
        EXPECT_EQ(IsoLocalTime(1796738700007), "2026-12-08T19:35:00.007+05:30");
    }
    {
        CTimeZone zone("XST3");
        EXPECT_EQ(IsoLocalTime(1796738700999), "2026-12-08T11:05:00.999-03:00");
    }
}

TEST(PageRecordTest, JsonLineParsesBackWithEveryField) {
    CTimeZone zone("UTC");
    const std::string strLine = PageRecordJson(Sample());
    EXPECT_EQ(strLine.find('\n'), std::string::npos);
    const nlohmann::json object = nlohmann::json::parse(strLine);
    EXPECT_EQ(object["time"], "2026-12-08T14:05:00.250+00:00");
    EXPECT_EQ(object["port"], "COM2");
    EXPECT_EQ(object["device"], "/dev/ttyUSB0");
    EXPECT_EQ(object["pager"], "1234");
    EXPECT_EQ(object["message"], "HI");
    EXPECT_EQ(object["verdict"], "timed-out");
    EXPECT_EQ(object["result"], "TIMED OUT"); // without the list's tab and blank
    EXPECT_EQ(object["blocks"], 1);
    EXPECT_EQ(object["answer"], "");
}

// The message is text in the record's charset; whenever a byte is not
// printable ASCII the exact bytes come beside it. Every byte 20 to FF hex
// reads back from message_hex in every charset, in JSON and in CSV.
TEST(PageRecordTest, EveryByteOfAMessageReadsBackExactly) {
    CPageRecord record = Sample();
    record.strMessage = std::string("A\x1b\"\\\xe9", 5);
    record.strDevice = "/dev/\xff"; // not UTF-8: replaced, never thrown
    nlohmann::json object = nlohmann::json::parse(PageRecordJson(record));
    EXPECT_EQ(object["message"], "A\x1b\"\\\\xE9"); // ESC kept, the high byte escaped
    EXPECT_EQ(object["message_hex"], "411B225CE9");
    EXPECT_EQ(object["device"].get<std::string>().substr(0, 5), "/dev/");
    record.charset = Charset::kLatin1;
    object = nlohmann::json::parse(PageRecordJson(record));
    EXPECT_EQ(object["message"], "A\x1b\"\\\xc3\xa9"); // e-acute as UTF-8
    // Printable ASCII alone: no hex.
    record.strMessage = "WARD 7";
    EXPECT_FALSE(nlohmann::json::parse(PageRecordJson(record)).contains("message_hex"));

    std::string strAll;
    for (int b = 0x20; b <= 0xFF; ++b)
        strAll += static_cast<char>(b);
    record.strMessage = strAll;
    for (Charset charset :
         {Charset::kAscii, Charset::kLatin1, Charset::kCp1252, Charset::kUtf8}) {
        record.charset = charset;
        object = nlohmann::json::parse(PageRecordJson(record));
        EXPECT_EQ(object["message_hex"], CompactHex(strAll)) << CharsetName(charset);
        const std::string strCsv = PageRecordCsv(record);
        EXPECT_EQ(strCsv.substr(strCsv.rfind(',') + 1), CompactHex(strAll));
    }
}

TEST(PageRecordTest, CsvQuotesOnlyFieldsThatNeedItAndKeepsPagerAndMessageApart) {
    CTimeZone zone("UTC");
    CPageRecord record = Sample();
    record.strPager = "12 34";
    record.strMessage = "say \"hi\", then\r\nbye";
    EXPECT_EQ(
        PageRecordCsvHeader(),
        "time,port,device,pager,message,verdict,result,blocks,answer,message_hex");
    EXPECT_EQ(PageRecordCsv(record),
              "2026-12-08T14:05:00.250+00:00,COM2,/dev/ttyUSB0,12 34,"
              "\"say \"\"hi\"\", then\r\nbye\",timed-out,TIMED OUT,1,,"
              "73617920226869222C207468656E0D0A627965");
}

TEST(PageRecordTest, BlockFieldsSplitAtTheirCrsAndShortBlocksLeaveTheRestEmpty) {
    std::string strPager, strMessage;
    SplitBlockFields("\x02"
                     "1234\rHI\r\x03"
                     "17:\r",
                     &strPager, &strMessage);
    EXPECT_EQ(strPager, "1234");
    EXPECT_EQ(strMessage, "HI");
    SplitBlockFields("\x02"
                     "12",
                     &strPager, &strMessage);
    EXPECT_EQ(strPager, "12");
    EXPECT_EQ(strMessage, "");
    SplitBlockFields("", &strPager, &strMessage);
    EXPECT_EQ(strPager, "");
    SplitBlockFields("\x02"
                     "1\rHALF",
                     &strPager, &strMessage);
    EXPECT_EQ(strMessage, "HALF");
}

TEST(PageRecordTest, JoinedFieldsOfAMessageInSeveralBlocks) {
    std::string strPager, strMessage;
    SplitJoinedFields(" 1234 ROOM 412 BED 2  ", true, &strPager, &strMessage);
    EXPECT_EQ(strPager, "1234");
    EXPECT_EQ(strMessage, "ROOM 412 BED 2");
    // Unfinished: no closing CR and ETX to take off.
    SplitJoinedFields(" 1234 ROOM ", false, &strPager, &strMessage);
    EXPECT_EQ(strMessage, "ROOM ");
    SplitJoinedFields("", false, &strPager, &strMessage);
    EXPECT_EQ(strPager + strMessage, "");
}

TEST(PageRecordTest, EveryVerdictHasANameAndTheAnswerSent) {
    using V = PageVerdict;
    for (V verdict :
         {V::kAccepted, V::kBadChecksum, V::kBadFormat, V::kTimedOut,
          V::kNakedOnPurpose, V::kUnansweredOnPurpose, V::kIncomplete, V::kTooLong})
        EXPECT_STRNE(VerdictName(verdict), "");
    EXPECT_STREQ(AnswerOf(V::kAccepted), "ACK");
    EXPECT_STREQ(AnswerOf(V::kTooLong), "NAK");
    EXPECT_STREQ(AnswerOf(V::kIncomplete), "");
    EXPECT_STREQ(AnswerOf(V::kUnansweredOnPurpose), "");
}

} // namespace

// Past the record limit the oldest go and are counted; a page longer than
// the whole list leaves no page listed, and the list's count never runs
// past the records it has.
TEST(PageRecordTest, RecordListLetsTheOldestGoAndCountsThem) {
    CPageRecordList list(3, 4);
    auto add = [&](const std::string& strPager, size_t nLines) {
        CPageRecord record;
        record.strPager = strPager;
        record.lines.assign(nLines, "line");
        list.Add(record);
    };
    for (int i = 1; i <= 6; ++i)
        add(std::to_string(i), 1);
    EXPECT_EQ(list.GetCount(), 4u);
    EXPECT_EQ(list.GetDroppedCount(), 2u);
    EXPECT_EQ(list.GetRecords().front().strPager, "3");
    EXPECT_EQ(list.GetListedCount(), 3u);
    EXPECT_TRUE(list.GetRecords().front().lines.empty()); // no longer listed
    add("7", 5);
    EXPECT_EQ(list.GetListedCount(), 0u);
    EXPECT_EQ(list.GetLineCount(), 0u);
    EXPECT_EQ(list.GetDroppedCount(), 3u);
    list.Clear();
    EXPECT_EQ(list.GetDroppedCount(), 0u);
    EXPECT_EQ(list.GetCount(), 0u);
}
