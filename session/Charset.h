// How the bytes of a message become text: in the lists, the reports, the
// logs, the JSON records and what is delivered onward (Charset<n> in the
// profile). The line itself is never changed: the protocol window shows the
// bytes as they came.
//
// Bytes below 80 hex are taken as they are in every charset (control
// characters stay for the lists to name and JSON to escape). Bytes the
// charset does not decode (any byte from 80 hex up in ascii, C1 controls
// in latin1, the five unused bytes of cp1252, broken UTF-8) show as \xNN,
// never as stray characters. The text is always valid UTF-8.
#pragma once

#include <string>

enum class Charset { kAscii, kLatin1, kCp1252, kUtf8 };

// "ascii", "latin1", "cp1252", "utf-8" (also "utf8", "iso-8859-1" and
// "windows-1252", in any letter case; empty is ascii). False for anything
// else, *pCharset left alone.
bool ParseCharset(const std::string& strValue, Charset* pCharset);
const char* CharsetName(Charset charset);

std::string DecodeText(const std::string& strBytes, Charset charset);

// Whether a byte is outside printable ASCII (20 to 7E hex): then the
// records carry the bytes in hex beside the text.
bool HasUnprintableBytes(const std::string& strBytes);
// "48C3A9": two upper-case hex digits a byte, nothing between them.
std::string CompactHex(const std::string& strBytes);
// "02 31 0D": the same, a blank between bytes.
std::string HexBytes(const std::string& strBytes);
