#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The one reader of chunk headers, used by every walk over a RIFF file. It
// reads by offset with pread through a window of its own, so that a walk over
// the headers near the start of a file costs one system call; the descriptor's
// offset, and any stream over it, are left alone.
class ChunkReader
{
public:
    static constexpr std::size_t kWindowSize = 16 * 1024;

    // One chunk header as it stands in the file.
    struct Header
    {
        char id[4] = {};
        uint64_t nOffset = 0; // of the identifier
        uint32_t nSize = 0;   // the size field, through the byte-order flag
        bool bPad = false;    // a pad byte follows the odd-sized payload
        bool bCutOff = false; // the payload runs past the end of the file

        uint64_t PayloadEnd() const { return nOffset + 8 + nSize; }
        uint64_t End() const { return PayloadEnd() + (bPad ? 1 : 0); }
    };

    // fd must stay open while the reader is used; nLength is the file's length.
    ChunkReader(int fd, uint64_t nLength, bool bIntelByteOrder);

    uint64_t Length() const { return m_nLength; }
    bool IntelByteOrder() const { return m_bIntelByteOrder; }
    // A read failed for another reason than the end of the file; errno then was Error().
    bool Failed() const { return m_nError != 0; }
    int Error() const { return m_nError; }

    // The nBytes at nOffset, valid until the next call; nullptr when the file
    // ends first or the read fails.
    const uint8_t* View(uint64_t nOffset, std::size_t nBytes);
    // Copies the nBytes at nOffset; false when View gives nothing.
    bool Read(uint64_t nOffset, void* pOut, std::size_t nBytes);

    // The header at nOffset; false when fewer than 8 bytes are left for it.
    bool ReadHeader(uint64_t nOffset, Header& header);
    // A header a writer could have written at nOffset: four printable bytes,
    // the first not a blank, and a size that fits in the file. A data chunk
    // may carry a size its recorder never finished (0, 0xFFFFFFFF, too large).
    bool IsPlausibleHeader(uint64_t nOffset);
    // Whether a pad byte stands behind an odd-sized payload that ends at
    // nPayloadEnd: a zero followed by the end of the file or by a plausible
    // header. Writers that left the pad byte out put the next header right there.
    bool PadFollows(uint64_t nPayloadEnd, uint64_t nSize);

    static bool IsPrintableId(const uint8_t* pId);

private:
    int m_fd;
    uint64_t m_nLength;
    bool m_bIntelByteOrder;
    int m_nError = 0;
    std::vector<uint8_t> m_window;
    uint64_t m_nWindowStart = 0;
    std::size_t m_nWindowLength = 0;
};
