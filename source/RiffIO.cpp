#include "RiffIO.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/types.h>
#include <unistd.h>

namespace riff
{
uint16_t Swap16(uint16_t n)
{
    return static_cast<uint16_t>((n >> 8) | (n << 8));
}

uint32_t Swap32(uint32_t n)
{
    return (n >> 24) | ((n >> 8) & 0x0000FF00u) | ((n << 8) & 0x00FF0000u) | (n << 24);
}

uint64_t Swap64(uint64_t n)
{
    return uint64_t{Swap32(static_cast<uint32_t>(n))} << 32 |
           Swap32(static_cast<uint32_t>(n >> 32));
}

uint16_t Get16(const uint8_t* p, bool bIntelByteOrder)
{
    uint16_t n;
    std::memcpy(&n, p, sizeof n);
    return bIntelByteOrder ? n : Swap16(n);
}

uint32_t Get32(const uint8_t* p, bool bIntelByteOrder)
{
    uint32_t n;
    std::memcpy(&n, p, sizeof n);
    return bIntelByteOrder ? n : Swap32(n);
}

uint64_t Get64(const uint8_t* p, bool bIntelByteOrder)
{
    uint64_t n;
    std::memcpy(&n, p, sizeof n);
    return bIntelByteOrder ? n : Swap64(n);
}

void Put16(uint8_t* p, uint16_t n, bool bIntelByteOrder)
{
    const uint16_t nOut = bIntelByteOrder ? n : Swap16(n);
    std::memcpy(p, &nOut, sizeof nOut);
}

void Put32(uint8_t* p, uint32_t n, bool bIntelByteOrder)
{
    const uint32_t nOut = bIntelByteOrder ? n : Swap32(n);
    std::memcpy(p, &nOut, sizeof nOut);
}

void Put64(uint8_t* p, uint64_t n, bool bIntelByteOrder)
{
    const uint64_t nOut = bIntelByteOrder ? n : Swap64(n);
    std::memcpy(p, &nOut, sizeof nOut);
}

bool Seek(FILE* pFile, uint64_t nOffset)
{
    return fseeko(pFile, static_cast<off_t>(nOffset), SEEK_SET) == 0;
}

bool SeekEnd(FILE* pFile, uint64_t& nLength)
{
    if (fseeko(pFile, 0, SEEK_END) != 0)
        return false;
    const off_t nPos = ftello(pFile);
    if (nPos < 0)
        return false;
    nLength = static_cast<uint64_t>(nPos);
    return true;
}

bool ReadId(FILE* pFile, char (&szId)[5])
{
    char bytes[4];
    if (fread(bytes, 1, 4, pFile) != 4)
        return false;
    std::memcpy(szId, bytes, 4);
    szId[4] = '\0';
    return true;
}

bool ReadU16(FILE* pFile, bool bIntelByteOrder, uint16_t& n)
{
    uint8_t bytes[2];
    if (fread(bytes, 1, sizeof bytes, pFile) != sizeof bytes)
        return false;
    n = Get16(bytes, bIntelByteOrder);
    return true;
}

bool ReadU32(FILE* pFile, bool bIntelByteOrder, uint32_t& n)
{
    uint8_t bytes[4];
    if (fread(bytes, 1, sizeof bytes, pFile) != sizeof bytes)
        return false;
    n = Get32(bytes, bIntelByteOrder);
    return true;
}

bool WriteU16(FILE* pFile, bool bIntelByteOrder, uint16_t n)
{
    uint8_t bytes[2];
    Put16(bytes, n, bIntelByteOrder);
    return fwrite(bytes, 1, sizeof bytes, pFile) == sizeof bytes;
}

bool WriteU32(FILE* pFile, bool bIntelByteOrder, uint32_t n)
{
    uint8_t bytes[4];
    Put32(bytes, n, bIntelByteOrder);
    return fwrite(bytes, 1, sizeof bytes, pFile) == sizeof bytes;
}

bool ReadBytes(FILE* pFile, void* pBuffer, uint64_t nBytes)
{
    return fread(pBuffer, 1, nBytes, pFile) == nBytes;
}

bool WriteBytes(FILE* pFile, const void* pBuffer, uint64_t nBytes)
{
    return fwrite(pBuffer, 1, nBytes, pFile) == nBytes;
}

bool WriteAt(int fd, uint64_t nOffset, const void* pBytes, std::size_t nBytes)
{
    const auto* p = static_cast<const uint8_t*>(pBytes);
    while (nBytes > 0)
    {
        const ssize_t n = pwrite(fd, p, nBytes, static_cast<off_t>(nOffset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        nOffset += static_cast<uint64_t>(n);
        nBytes -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadAt(int fd, uint64_t nOffset, uint8_t* p, std::size_t nBytes)
{
    while (nBytes > 0)
    {
        const ssize_t n = pread(fd, p, nBytes, static_cast<off_t>(nOffset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
        {
            if (n == 0)
                errno = 0; // the file ended before the bytes it was to hold
            return false;
        }
        p += n;
        nOffset += static_cast<uint64_t>(n);
        nBytes -= static_cast<std::size_t>(n);
    }
    return true;
}

Moved MoveBytes(int fdFrom, uint64_t nFrom, int fdTo, uint64_t nTo, uint64_t nLength,
                uint8_t* pBuffer, std::size_t nBufferSize)
{
    // Upwards within one file, the last block goes first.
    const bool bBackwards = fdFrom == fdTo && nTo > nFrom;
    for (uint64_t nDone = 0; nDone < nLength;)
    {
        const auto nBlock =
            static_cast<std::size_t>(std::min<uint64_t>(nBufferSize, nLength - nDone));
        const uint64_t nAt = bBackwards ? nLength - nDone - nBlock : nDone;
        if (!ReadAt(fdFrom, nFrom + nAt, pBuffer, nBlock))
        {
            if (errno == 0)
                errno = EIO; // the source ended before the bytes it was to hold
            return Moved::ReadFailed;
        }
        if (!WriteAt(fdTo, nTo + nAt, pBuffer, nBlock))
            return Moved::WriteFailed;
        nDone += nBlock;
    }
    return Moved::All;
}
} // namespace riff
