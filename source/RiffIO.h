#pragma once

#include <cstdint>
#include <cstdio>

// Little-endian reads and writes through the byte-order flag, and 64-bit
// seeks, shared by every file class. A read that runs into the end of the file
// returns false and leaves its output untouched.
namespace riff
{
constexpr uint64_t kHeaderSize = 12;     // "RIFF", size, form type
constexpr uint64_t kChunkHeaderSize = 8; // identifier, size
constexpr uint64_t kMaxRiffLength = uint64_t{0xFFFFFFFF} + 8;

uint16_t Swap16(uint16_t n);
uint32_t Swap32(uint32_t n);

bool Seek(FILE* pFile, uint64_t nOffset);
// Seeks to the end and reports the position there, which is the file length.
bool SeekEnd(FILE* pFile, uint64_t& nLength);

// Reads four bytes and terminates them with a NUL.
bool ReadId(FILE* pFile, char (&szId)[5]);
// bIntelByteOrder false: the value is byte-swapped after reading or before writing.
bool ReadU16(FILE* pFile, bool bIntelByteOrder, uint16_t& n);
bool ReadU32(FILE* pFile, bool bIntelByteOrder, uint32_t& n);
bool WriteU16(FILE* pFile, bool bIntelByteOrder, uint16_t n);
bool WriteU32(FILE* pFile, bool bIntelByteOrder, uint32_t n);
bool ReadBytes(FILE* pFile, void* pBuffer, uint64_t nBytes);
bool WriteBytes(FILE* pFile, const void* pBuffer, uint64_t nBytes);
} // namespace riff
