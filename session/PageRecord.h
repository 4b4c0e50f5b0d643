// CPageRecord: one page result as the session records it, for every face
// that shows or keeps pages (the page list, the session log, the headless
// runner's standard output, the exported page list).
//
// A record is a plain value made on the user-interface thread when the
// engine judges a block; it carries the page list's lines for the page, so
// that the list and every machine-readable form come from the same result.
#pragma once

#include "engine/PageTerminal.h"
#include "session/Charset.h"

#include <cstdint>
#include <string>
#include <vector>

// "accepted", "bad-checksum", "bad-format", "timed-out", "incomplete",
// "too-long", "naked-on-purpose", "unanswered-on-purpose", "refused",
// "truncated" (accepted, cut short by a test mode).
const char* VerdictName(PageVerdict verdict);

// What went back on the line for a page with this verdict: "ACK", "NAK" or
// empty for none.
const char* AnswerOf(PageVerdict verdict);
// The same from the bytes the page was answered with: "ACK", "NAK", "RS",
// or empty for none (ESC EOT CR, which ends the session, is none).
const char* AnswerName(const std::string& strAnswer);

struct CPageRecord {
    // Given when the page is kept for delivery onward: the same for every
    // target and attempt. Empty when it is not (and then not in the JSON).
    std::string strId;
    std::int64_t nTimeMs = 0; // when the result came, ms since the epoch
    int nPort = 0;
    std::string strDevice;
    std::string strPager;
    std::string strMessage;
    PageVerdict verdict = PageVerdict::kAccepted;
    std::string strResult; // the engine's result text, empty for a good page
    int nBlocks = 1;
    std::string strAnswer; // "ACK", "NAK", or empty when none was sent
    // How the pager ID and the message become text (the bytes stay as they
    // came in the fields above).
    Charset charset = Charset::kAscii;
    std::vector<std::string> lines; // the page list's lines for the page, as text
    // Its record was written out before the ACK (KeepRecord): a display
    // that did so does not write it again.
    bool bKept = false;
};

// Pager ID and message of a block as the engine stored it (from its STX
// on): the first and second field, each ending at a CR; what is missing of
// a short block is empty.
void SplitBlockFields(const std::string& strBlock, std::string* pstrPager,
                      std::string* pstrMessage);

// Pager ID and message of a page in several blocks, from the engine's
// joined page text (" 1234 HELLO WORLD  ": its STX, CRs and ETX shown as
// blanks): the pager ID up to the first blank, the message after it, less
// the two blanks of its closing CR and ETX when the page was accepted.
void SplitJoinedFields(const std::string& strPageText, bool bAccepted,
                       std::string* pstrPager, std::string* pstrMessage);

// Fills the pager ID, the message and the page list's lines of a record
// whose time, verdict, result and block count are set, from what the engine
// hands on: the page text and the block as stored (CPageResult).
void FillPageFields(CPageRecord* pRecord, const std::string& strPageText,
                    const std::string& strStoredBlock, bool bAccepted);

// The three checksum characters of a block as stored (after its ETX, ETB
// or US); empty when the block has none.
std::string BlockChecksumText(const std::string& strStoredBlock);

// "RESEND OF THE BLOCK ANSWERED NAK BEFORE (PAGER 1234, CHECKSUM 17;)": the
// mark of a block sent again after its NAK. A checksum that did not come
// is left out.
std::string ResendNote(const std::string& strPager, const std::string& strChecksum);

// "2026-12-09T14:05:00.250+01:00": local time with milliseconds and the
// offset from UTC.
std::string IsoLocalTime(std::int64_t nTimeMs);

// The page whole, for a reader: its pager, time, blocks and result on the
// first lines, then the whole message as text in the record's charset, and
// its bytes in hex when any is outside printable ASCII. Lines end in '\n';
// the message keeps its own control characters by name.
std::string PageDetailsText(const CPageRecord& record);

// One JSON object on one line, without the line end. The pager ID and the
// message are text in the record's charset (bytes it does not decode as
// \xNN), so every record is valid UTF-8; a message with any byte outside
// printable ASCII also carries its exact bytes as "message_hex".
std::string PageRecordJson(const CPageRecord& record);

// The CSV header and one row (RFC 4180: fields with a comma, a quote or a
// line end are quoted, quotes doubled), each without the line end. The last
// column, message_hex, is as in the JSON record (empty when not needed).
std::string PageRecordCsvHeader();
std::string PageRecordCsv(const CPageRecord& record);
