#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Little-endian reads and writes through the byte-order flag, 64-bit seeks,
// and the one block mover, shared by every file class. A read that runs into
// the end of the file returns false and leaves its output untouched.
namespace riff
{
constexpr uint64_t kHeaderSize = 12;     // "RIFF", size, form type
constexpr uint64_t kChunkHeaderSize = 8; // identifier, size
constexpr uint64_t kMaxRiffLength = uint64_t{0xFFFFFFFF} + 8;
// Every move or copy of file bytes goes through one buffer of this size, so
// memory stays fixed whatever the file size.
constexpr std::size_t kBlockSize = 614400; // 600 KiB

uint16_t Swap16(uint16_t n);
uint32_t Swap32(uint32_t n);
uint64_t Swap64(uint64_t n);

// Values in a byte buffer, through the byte-order flag: bIntelByteOrder false
// swaps them, as the stream functions below do.
uint16_t Get16(const uint8_t* p, bool bIntelByteOrder);
uint32_t Get32(const uint8_t* p, bool bIntelByteOrder);
uint64_t Get64(const uint8_t* p, bool bIntelByteOrder);
void Put16(uint8_t* p, uint16_t n, bool bIntelByteOrder);
void Put32(uint8_t* p, uint32_t n, bool bIntelByteOrder);
void Put64(uint8_t* p, uint64_t n, bool bIntelByteOrder);

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

// Reads all of nBytes at nOffset of fd into pBytes; false when it cannot, with
// errno the read's error, or 0 when the file ends first.
bool ReadAt(int fd, uint64_t nOffset, uint8_t* pBytes, std::size_t nBytes);
// Writes all of nBytes at nOffset of fd; false, with errno set, when it cannot.
bool WriteAt(int fd, uint64_t nOffset, const void* pBytes, std::size_t nBytes);
// How a move of bytes ended: which side failed tells a source that could not
// be read from a destination that could not take the bytes.
enum class Moved
{
    All,
    ReadFailed,  // errno set; EIO when the source ended early
    WriteFailed, // errno set
};
// Copies nLength bytes from nFrom of fdFrom to nTo of fdTo through the caller's
// buffer, with pread and pwrite. On one descriptor the two ranges may overlap:
// a move up runs from the end downwards, so no byte is overwritten before it
// has moved. What was written before a failure stays.
Moved MoveBytes(int fdFrom, uint64_t nFrom, int fdTo, uint64_t nTo, uint64_t nLength,
                uint8_t* pBuffer, std::size_t nBufferSize);
} // namespace riff
