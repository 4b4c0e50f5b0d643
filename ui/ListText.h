// Texts of the list tools, as plain functions: how a list line shows on
// screen, whether it holds what the reader looks for, and the hex form of
// the protocol bytes.
#pragma once

#include <string>

// The line as its row shows it: a control character spelled out by name
// ("<LF>"), so that a line break inside a page's text cannot hide the rest
// of the line. A tab at the start stays: it indents the program's own result
// lines. Every other byte is kept.
std::string ShownListLine(const std::string& strLine);

// Whether the line holds strText; letters A to Z match either case unless
// bMatchCase. An empty text is in every line.
bool LineHolds(const std::string& strLine, const std::string& strText, bool bMatchCase);

// A protocol line with the hex of its bytes after it; the line alone when it
// carries no bytes (a warning or a note).
std::string WithHexBytes(const std::string& strLine, const std::string& strHex);
