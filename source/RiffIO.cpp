#include "RiffIO.h"

#include <sys/types.h>

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
    for (int i = 0; i < 4; ++i)
        szId[i] = bytes[i];
    szId[4] = '\0';
    return true;
}

bool ReadU16(FILE* pFile, bool bIntelByteOrder, uint16_t& n)
{
    uint16_t nRead;
    if (fread(&nRead, sizeof nRead, 1, pFile) != 1)
        return false;
    n = bIntelByteOrder ? nRead : Swap16(nRead);
    return true;
}

bool ReadU32(FILE* pFile, bool bIntelByteOrder, uint32_t& n)
{
    uint32_t nRead;
    if (fread(&nRead, sizeof nRead, 1, pFile) != 1)
        return false;
    n = bIntelByteOrder ? nRead : Swap32(nRead);
    return true;
}

bool WriteU16(FILE* pFile, bool bIntelByteOrder, uint16_t n)
{
    const uint16_t nOut = bIntelByteOrder ? n : Swap16(n);
    return fwrite(&nOut, sizeof nOut, 1, pFile) == 1;
}

bool WriteU32(FILE* pFile, bool bIntelByteOrder, uint32_t n)
{
    const uint32_t nOut = bIntelByteOrder ? n : Swap32(n);
    return fwrite(&nOut, sizeof nOut, 1, pFile) == 1;
}

bool ReadBytes(FILE* pFile, void* pBuffer, uint64_t nBytes)
{
    return fread(pBuffer, 1, nBytes, pFile) == nBytes;
}

bool WriteBytes(FILE* pFile, const void* pBuffer, uint64_t nBytes)
{
    return fwrite(pBuffer, 1, nBytes, pFile) == nBytes;
}
} // namespace riff
