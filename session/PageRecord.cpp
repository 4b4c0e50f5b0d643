#include "session/PageRecord.h"

#include "engine/ControlNames.h"
#include "engine/Protocol.h"
#include "session/ViewText.h"

#include <nlohmann/json.hpp>

#include <ctime>

const char* VerdictName(PageVerdict verdict) {
    switch (verdict) {
    case PageVerdict::kAccepted: return "accepted";
    case PageVerdict::kBadChecksum: return "bad-checksum";
    case PageVerdict::kBadFormat: return "bad-format";
    case PageVerdict::kTimedOut: return "timed-out";
    case PageVerdict::kIncomplete: return "incomplete";
    case PageVerdict::kTooLong: return "too-long";
    case PageVerdict::kNakedOnPurpose: return "naked-on-purpose";
    case PageVerdict::kUnansweredOnPurpose: return "unanswered-on-purpose";
    case PageVerdict::kRefused: return "refused";
    case PageVerdict::kTruncated: return "truncated";
    }
    return "";
}

const char* AnswerOf(PageVerdict verdict) {
    switch (verdict) {
    case PageVerdict::kAccepted:
    case PageVerdict::kTruncated: return "ACK";
    case PageVerdict::kBadChecksum:
    case PageVerdict::kNakedOnPurpose:
    case PageVerdict::kTooLong: return "NAK";
    case PageVerdict::kRefused: return "RS";
    default: return "";
    }
}

const char* AnswerName(const std::string& strAnswer) {
    // The page's answer ends the bytes (a coded line may come first).
    const auto endsWith = [&strAnswer](char ch) {
        return strAnswer.size() >= 2 && strAnswer[strAnswer.size() - 2] == ch &&
               strAnswer.back() == kCr;
    };
    return endsWith(kAck) ? "ACK" : endsWith(kNak) ? "NAK" : endsWith(kRs) ? "RS" : "";
}

void SplitBlockFields(const std::string& strBlock, std::string* pstrPager,
                      std::string* pstrMessage) {
    pstrPager->clear();
    pstrMessage->clear();
    size_t nAt = !strBlock.empty() && strBlock[0] == kStx ? 1 : 0;
    const size_t nPagerEnd = strBlock.find(kCr, nAt);
    *pstrPager = strBlock.substr(nAt, nPagerEnd - nAt);
    if (nPagerEnd == std::string::npos)
        return;
    nAt = nPagerEnd + 1;
    const size_t nMessageEnd = strBlock.find(kCr, nAt);
    *pstrMessage = strBlock.substr(nAt, nMessageEnd - nAt);
}

void SplitJoinedFields(const std::string& strPageText, bool bAccepted,
                       std::string* pstrPager, std::string* pstrMessage) {
    std::string strText = strPageText.substr(strPageText.empty() ? 0 : 1);
    if (bAccepted && strText.size() >= 2 &&
        strText.compare(strText.size() - 2, 2, "  ") == 0)
        strText.resize(strText.size() - 2);
    const size_t nBlank = strText.find(' ');
    *pstrPager = strText.substr(0, nBlank);
    *pstrMessage =
        nBlank == std::string::npos ? std::string() : strText.substr(nBlank + 1);
}

void FillPageFields(CPageRecord* pRecord, const std::string& strPageText,
                    const std::string& strStoredBlock, bool bAccepted) {
    CPageRecord& record = *pRecord;
    // One block: its fields as they came. Several, or a message left
    // unfinished (its blocks are gone): from the joined text.
    if (record.nBlocks <= 1 && record.verdict != PageVerdict::kIncomplete)
        SplitBlockFields(strStoredBlock, &record.strPager, &record.strMessage);
    else
        SplitJoinedFields(strPageText, bAccepted, &record.strPager, &record.strMessage);
    record.lines.clear();
    record.lines.push_back(DecodeText(
        FormatPageLine(static_cast<std::time_t>(record.nTimeMs / 1000), strPageText),
        record.charset));
    if (!record.strResult.empty())
        record.lines.push_back(record.strResult);
}

std::string BlockChecksumText(const std::string& strStoredBlock) {
    const size_t nEnd = strStoredBlock.find_last_of(std::string{kEtx, kEtb, kUs});
    if (nEnd == std::string::npos || strStoredBlock.size() < nEnd + 4)
        return std::string();
    return strStoredBlock.substr(nEnd + 1, 3);
}

std::string ResendNote(const std::string& strPager, const std::string& strChecksum) {
    // Control characters by name: the note is a line of its own. The
    // checksum's bytes are no text: any from 80 hex up shows as \xNN.
    const std::string strSum =
        WithControlNames(DecodeText(strChecksum, Charset::kAscii));
    return "RESEND OF THE BLOCK ANSWERED NAK BEFORE (PAGER " +
           WithControlNames(strPager) +
           (strChecksum.empty() ? "" : ", CHECKSUM " + strSum) + ")";
}

std::string PageDetailsText(const CPageRecord& record) {
    std::string strText =
        "Pager " + WithControlNames(DecodeText(record.strPager, record.charset)) +
        ", " + IsoLocalTime(record.nTimeMs) + ", " + std::to_string(record.nBlocks) +
        (record.nBlocks == 1 ? " block, " : " blocks, ") + VerdictName(record.verdict);
    strText += record.strAnswer.empty() ? "\n" : " (" + record.strAnswer + ")\n";
    if (!record.strResult.empty())
        strText +=
            WithControlNames(DecodeText(record.strResult, Charset::kAscii)) + "\n";
    strText += "Message (" + std::to_string(record.strMessage.size()) + " bytes):\n" +
               WithControlNames(DecodeText(record.strMessage, record.charset)) + "\n";
    if (HasUnprintableBytes(record.strMessage))
        strText += "Bytes in hex:\n" + HexBytes(record.strMessage) + "\n";
    return strText;
}

std::string IsoLocalTime(std::int64_t nTimeMs) {
    const std::time_t when = static_cast<std::time_t>(nTimeMs / 1000);
    std::tm local{};
    localtime_r(&when, &local);
    char szTime[32];
    std::strftime(szTime, sizeof szTime, "%Y-%m-%dT%H:%M:%S", &local);
    const long nOffset = local.tm_gmtoff / 60;
    const long nAbs = nOffset < 0 ? -nOffset : nOffset;
    char szText[64];
    std::snprintf(szText, sizeof szText, "%s.%03d%c%02ld:%02ld", szTime,
                  static_cast<int>(nTimeMs % 1000), nOffset < 0 ? '-' : '+', nAbs / 60,
                  nAbs % 60);
    return szText;
}

namespace {

// "\tTIMED OUT " as a field: without the list's tab and trailing blank.
std::string ResultField(const std::string& strResult) {
    const size_t nFirst = strResult.find_first_not_of("\t ");
    if (nFirst == std::string::npos)
        return std::string();
    return strResult.substr(nFirst, strResult.find_last_not_of("\t ") + 1 - nFirst);
}

std::string CsvField(const std::string& strField) {
    if (strField.find_first_of(",\"\r\n") == std::string::npos)
        return strField;
    std::string strQuoted = "\"";
    for (char c : strField) {
        if (c == '"')
            strQuoted += '"';
        strQuoted += c;
    }
    return strQuoted + "\"";
}

} // namespace

std::string PageRecordJson(const CPageRecord& record) {
    nlohmann::ordered_json object;
    if (!record.strId.empty())
        object["id"] = record.strId;
    object["time"] = IsoLocalTime(record.nTimeMs);
    object["port"] = "COM" + std::to_string(record.nPort);
    object["device"] = record.strDevice;
    object["pager"] = DecodeText(record.strPager, record.charset);
    object["message"] = DecodeText(record.strMessage, record.charset);
    if (HasUnprintableBytes(record.strMessage))
        object["message_hex"] = CompactHex(record.strMessage);
    object["verdict"] = VerdictName(record.verdict);
    object["result"] = ResultField(record.strResult);
    object["blocks"] = record.nBlocks;
    object["answer"] = record.strAnswer;
    // The device path is the file system's bytes: never let one that is not
    // UTF-8 end the program.
    return object.dump(-1, ' ', false,
                       nlohmann::ordered_json::error_handler_t::replace);
}

std::string PageRecordCsvHeader() {
    return "time,port,device,pager,message,verdict,result,blocks,answer,message_hex";
}

std::string PageRecordCsv(const CPageRecord& record) {
    const std::string fields[] = {
        IsoLocalTime(record.nTimeMs),
        "COM" + std::to_string(record.nPort),
        record.strDevice,
        DecodeText(record.strPager, record.charset),
        DecodeText(record.strMessage, record.charset),
        VerdictName(record.verdict),
        ResultField(record.strResult),
        std::to_string(record.nBlocks),
        record.strAnswer,
        HasUnprintableBytes(record.strMessage) ? CompactHex(record.strMessage)
                                               : std::string(),
    };
    std::string strRow;
    for (const std::string& strField : fields) {
        if (!strRow.empty() || &strField != &fields[0])
            strRow += ',';
        strRow += CsvField(strField);
    }
    return strRow;
}
