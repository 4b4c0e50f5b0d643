// Bytes from the line and wxString: every byte is kept as the character of
// the same number (ISO 8859-1), so a text goes into a list and back into a
// report file byte for byte.
//
// Paths are not line bytes: they cross between wx and the C++ side in the
// file system's encoding (wx's file-name conversion, UTF-8 unless the
// environment names another), so that "~/Документы/r.txt" is that folder.
#pragma once

#include <string>
#include <wx/strconv.h>
#include <wx/string.h>

inline wxString FromBytes(const std::string& strBytes) {
    return wxString::From8BitData(strBytes.data(), strBytes.size());
}

inline std::string ToBytes(const wxString& strText) {
    const wxCharBuffer buffer = strText.To8BitData();
    return std::string(buffer.data(), buffer.length());
}

// A path as the system calls take it; empty when it cannot be expressed in
// the file system's encoding.
inline std::string ToPathBytes(const wxString& strPath) {
    const wxScopedCharBuffer buffer = strPath.fn_str();
    return buffer.data() ? std::string(buffer.data(), buffer.length()) : std::string();
}

inline wxString FromPathBytes(const std::string& strPath) {
    return wxString(strPath.c_str(), wxConvFile);
}

// A message for the operator: UTF-8 where it is (a path in it, say), else
// taken byte for byte.
inline wxString FromMessageBytes(const std::string& strText) {
    wxString strShown = wxString::FromUTF8(strText.data(), strText.size());
    return strShown.empty() && !strText.empty() ? FromBytes(strText) : strShown;
}
