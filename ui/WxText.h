// Bytes from the line and wxString: every byte is kept as the character of
// the same number (ISO 8859-1), so a text goes into a list and back into a
// report file byte for byte.
#pragma once

#include <string>
#include <wx/string.h>

inline wxString FromBytes(const std::string& strBytes) {
    return wxString::From8BitData(strBytes.data(), strBytes.size());
}

inline std::string ToBytes(const wxString& strText) {
    const wxCharBuffer buffer = strText.To8BitData();
    return std::string(buffer.data(), buffer.length());
}
