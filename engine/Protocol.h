// Bytes and byte sequences of the alphanumeric paging dialogue.
#pragma once

constexpr char kNul = 0x00;
constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kEot = 0x04;
constexpr char kAck = 0x06;
constexpr char kCr = 0x0D;
constexpr char kNak = 0x15;
constexpr char kSub = 0x1A;
constexpr char kEsc = 0x1B;

// Written by the terminal.
constexpr const char* kEndOfSession = "\x1b\x04\r";          // ESC EOT CR
constexpr const char* kLogonPrompt = "ID=";
constexpr const char* kLogonAccepted = "\x06\r\x1b[p\r";     // ACK CR ESC [ p CR
constexpr const char* kPageAccepted = "\x06\r";              // ACK CR
constexpr const char* kPageRejected = "\x15\r";              // NAK CR

// Looked for in what the caller sends.
constexpr const char* kLogonRequest = "\x1bPG1\r";           // ESC P G 1 CR
constexpr const char* kCallerEnd = "\x04\r";                 // EOT CR
constexpr const char* kBye = "BYE";
