// The additive 12-bit block checksum of the alphanumeric paging protocol.
//
// The sum runs over every byte from the STX through the ETX, each byte taken
// as a signed 8-bit value (0x80..0xFF count as their value minus 256); only
// the low 12 bits count. On the line it is three characters, 0x30 plus four
// bits each, most significant first.
//
// The blocks a caller sends are made here too, for everyone who plays the
// caller: veldrin-sim, the benchmark and the tests.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

unsigned BlockChecksum(const char* pBytes, size_t nLength);
// The three characters that carry a checksum on the line.
std::string ChecksumCharacters(unsigned nSum);
// The value carried by three checksum characters: only their low four bits
// count.
unsigned DecodeChecksum(const char* pThree);

// A block on the line: STX, the fields as given (their CRs included), the
// end character (ETX, ETB or US), its checksum and CR.
std::string MakeBlock(const std::string& strFields, char chEnd);
// A page in one block: the pager ID and the message, each a field.
std::string MakePageBlock(const std::string& strPager, const std::string& strMessage);
// The blocks for a page, each holding at most nBlockSize characters of
// fields: a block that stops inside a field ends in US, one that stops where
// a field ends in ETB, the last in ETX.
std::vector<std::string> MakePageBlocks(const std::string& strPager,
                                        const std::string& strMessage, int nBlockSize);
