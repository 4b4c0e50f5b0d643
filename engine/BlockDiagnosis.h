// Why a block was judged bad, in words an integrator can act on.
//
// DiagnoseBlock looks at a block as the engine stored it (from its STX on,
// NUL bytes dropped) after it was answered NAK, judged malformed, or timed
// out, and returns lines in the style of the protocol window's warnings
// (three blanks, capitals): what arrived, and where a known sender mistake
// explains it, what would have matched: the parity bit summed in, unsigned
// sums, a checksum over other bytes, checksum characters outside 0-?, a
// wrong number of fields, CR LF line ends, control characters not made
// transparent. A plain function: no state, no GUI.
//
// CLineHints watches a session's received bytes for signs of a line-format
// mismatch and says so once per session.
#pragma once

#include <string>
#include <vector>

enum class BlockVerdict {
    kBadChecksum, // answered NAK
    kBadFormat,   // no answer: the ETX was not where the checksum needs it
    kTimedOut,    // no answer: the block never completed
};

// nTicks: the 100 ms ticks the block took (for a time-out); nDropped: the
// bytes that came after the block store was full.
std::vector<std::string> DiagnoseBlock(const std::string& strBlock,
                                       BlockVerdict verdict, int nTicks,
                                       int nDropped = 0);

class CLineHints {
  public:
    // Bytes with the high bit set in one session before it is said.
    static constexpr int kHighBitLimit = 4;

    // A received byte; returns the note to show, once per session, at a CR
    // (with or without a parity bit) that ends the caller's line: when the
    // high bit of at least nine bytes in ten is the parity of the other seven.
    std::string OnByte(unsigned char ch);
    // A new session (or none any more): the counts start again.
    void NewSession();

  private:
    int m_nBytes = 0;
    int m_nEven = 0; // bytes whose high bit makes their parity even
    int m_nOdd = 0;
    int m_nHighBit = 0;
    bool m_bSaid = false;
};
