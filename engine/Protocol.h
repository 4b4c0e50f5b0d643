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
constexpr char kUs = 0x1F;  // the block ends, its last field goes on in the next block

// The longest block: STX, 250 characters of fields with their CRs, the end
// character (ETX, ETB or US), three checksum characters and CR.
constexpr int kBlockLimit = 256;

// Written by the terminal.
constexpr const char* kEndOfSession = "\x1b\x04\r";          // ESC EOT CR
constexpr const char* kLogonPrompt = "ID=";
constexpr const char* kLogonAccepted = "\x06\r\x1b[p\r";     // ACK CR ESC [ p CR
constexpr const char* kPageAccepted = "\x06\r";              // ACK CR
constexpr const char* kPageRejected = "\x15\r";              // NAK CR

// Looked for in what the caller sends.
constexpr const char* kLogonRequest = "\x1bPG1\r";           // ESC P G 1 CR
constexpr const char* kLogonStart = "\x1bPG1";              // a password may follow
constexpr const char* kCallerEnd = "\x04\r";                 // EOT CR
constexpr const char* kBye = "BYE";
