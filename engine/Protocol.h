// Bytes and byte sequences of the alphanumeric paging dialogue.
#pragma once

constexpr char kNul = 0x00;
constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kEot = 0x04;
constexpr char kAck = 0x06;
constexpr char kCr = 0x0D;
constexpr char kNak = 0x15;
constexpr char kEtb = 0x17; // the block ends, the message goes on with the next field
constexpr char kSub = 0x1A;
constexpr char kEsc = 0x1B;
constexpr char kRs = 0x1E; // the transaction is refused: go on with the next one
constexpr char kUs = 0x1F; // the block ends, its last field goes on in the next block

// The longest block: STX, 250 characters of fields with their CRs, the end
// character (ETX, ETB or US), three checksum characters and CR.
constexpr int kBlockLimit = 256;

// Written by the terminal.
constexpr const char* kEndOfSession = "\x1b\x04\r"; // ESC EOT CR
constexpr const char* kLogonPrompt = "ID=";
constexpr const char* kLogonAccepted = "\x06\r\x1b[p\r"; // ACK CR ESC [ p CR
constexpr const char* kPageAccepted = "\x06\r";          // ACK CR
constexpr const char* kPageRejected = "\x15\r";          // NAK CR
constexpr const char* kPageRefused = "\x1e\r";           // RS CR

// Message sequences: a response code and its text, sent on a line of their
// own before the control answer by a terminal that speaks revision 1.8.
constexpr const char* kSeqRevision = "110 1.8";
constexpr const char* kSeqSessionLimit = "112 MAXIMUM PAGES ENTERED FOR SESSION";
constexpr const char* kSeqGoodbye = "115 THANK YOU";
constexpr const char* kSeqPageSent = "211 PAGE(S) SENT SUCCESSFULLY";
constexpr const char* kSeqDeferred = "213 MESSAGE ACCEPTED, HELD FOR DEFERRED DELIVERY";
constexpr const char* kSeqTruncated =
    "214 %zu CHARACTER MAXIMUM, MESSAGE HAS BEEN TRUNCATED AND SENT";
constexpr const char* kSeqTimeOut = "501 TIME-OUT WAITING FOR INPUT";
constexpr const char* kSeqChecksumErrors = "503 TOO MANY ATTEMPTS WITH CHECKSUM ERRORS";
constexpr const char* kSeqBadPassword = "509 INVALID PASSWORD";
constexpr const char* kSeqNoSubscriber = "511 INVALID PAGER ID";
constexpr const char* kSeqTryLater = "512 TEMPORARILY CANNOT DELIVER, TRY LATER";
constexpr const char* kSeqTooLong = "513 MESSAGE REFUSED, TOO LONG";

// Looked for in what the caller sends.
constexpr const char* kLogonRequest = "\x1bPG1\r"; // ESC P G 1 CR
constexpr const char* kLogonStart = "\x1bPG1";     // a password may follow
constexpr const char* kCallerEnd = "\x04\r";       // EOT CR
constexpr const char* kBye = "BYE";
