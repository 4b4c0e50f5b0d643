// Texts every sender makes for its results: reasons in upper case, excerpts
// of what a receiver said, and neither ever holding a secret. Pure
// functions, callable from any thread.
#pragma once

#include <string>
#include <vector>

// The text with every secret in it replaced by "***" (a password, an
// Authorization value, their encoded forms). Empty secrets are ignored.
std::string HideSecrets(std::string strText, const std::vector<std::string>& secrets);

// At most nMax bytes of the text, cut before a partial UTF-8 character, with
// control characters other than line ends and tabs shown as '?'.
std::string Excerpt(const std::string& strText, size_t nMax);

// A header's value with its control characters (line breaks above all) as
// blanks, so that what a page holds can never end the header and start
// another.
std::string HeaderValue(const std::string& strText);

// Upper case, ASCII only ("Connection refused" → "CONNECTION REFUSED").
std::string UpperCase(std::string strText);

// The base64 form of the bytes (RFC 4648, with padding).
std::string Base64(const std::string& strBytes);
