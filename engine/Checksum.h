// The additive 12-bit block checksum of the alphanumeric paging protocol.
//
// The sum runs over every byte from the STX through the ETX, each byte taken
// as a signed 8-bit value (0x80..0xFF count as their value minus 256); only
// the low 12 bits count. On the line it is three characters, 0x30 plus four
// bits each, most significant first. Shared by the engine and veldrin-sim.
#pragma once

#include <cstddef>
#include <string>

unsigned BlockChecksum(const char* pBytes, size_t nLength);
// The three characters that carry a checksum on the line.
std::string ChecksumCharacters(unsigned nSum);
// The value carried by three checksum characters: only their low four bits
// count.
unsigned DecodeChecksum(const char* pThree);
