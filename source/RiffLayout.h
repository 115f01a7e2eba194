#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "WavFormat.h"

class ChunkReader;

// The chunk list of a RIFF (or RF64) file as a tolerant walk finds it: every
// live chunk, and every hole, a run of bytes where a header should stand but
// none does (zeros, 0xFF, a wiped identifier, a size that runs past the end)
// up to the next plausible header. The remains of a lost format chunk are such
// a hole. The walk steps over the pad byte behind an odd-sized chunk when one
// stands there, and reads right behind the payload otherwise.
//
// In front of the audio a hole is crossed by a search for the next plausible
// header; behind the start of the audio no search runs through the samples:
// only a chain of headers that ends exactly at the end of the file counts.
//
// A format chunk in front of the audio whose size leads to no header (too
// large, zero, odd) or whose body ends before its bits field, but whose
// fields state a format that agrees with itself, is no hole: it is damaged,
// and the walk goes on behind the body it holds.
class RiffLayout
{
public:
    enum class Form
    {
        NotRiff, // the file does not begin with "RIFF", "RF64" or "BW64"
        Riff,
        Rf64, // RF64 or BW64: sizes of 0xFFFFFFFF are in the ds64 chunk
    };

    struct Entry
    {
        std::string id;       // the four identifier bytes; a hole's first bytes
        uint64_t nOffset = 0; // of the header, or of a hole's first byte
        uint64_t nSize = 0; // the payload size the chunk declares (ds64's in RF64); a hole's length
        uint64_t nPayload = 0; // payload bytes present: nSize, or for an unfinished data chunk
                               // all bytes up to the next live chunk or the end of the file
        bool bHole = false;
        bool bPad = false;           // a pad byte follows the payload
        bool bUnfinished = false;    // a data chunk whose size its recorder never finished:
                                     // 0, 0xFFFFFFFF, or more than the file holds
        bool bDamagedFormat = false; // a damaged format chunk: nSize is its size field,
                                     // nPayload the body it holds (14, 16, 18 or 40 bytes)

        uint64_t PayloadOffset() const { return nOffset + 8; }
        // Where the next entry begins.
        uint64_t End() const { return bHole ? nOffset + nSize : nOffset + 8 + nPayload + bPad; }
        // A damaged format chunk is not yet one.
        bool Is(std::string_view chunkId) const
        {
            return !bHole && !bDamagedFormat && id == chunkId;
        }
    };

    // Walks from nStart (the first chunk header) to the end of the file, or up
    // to and including the first live chunk named pszStopAt. A read error ends
    // the walk early; the reader then tells it.
    static RiffLayout Read(ChunkReader& reader, const char* pszStopAt = nullptr,
                           uint64_t nStart = 12);

    // The first live chunk named id, and its index; nullptr and npos when none.
    const Entry* Find(std::string_view id) const;
    std::size_t IndexOf(std::string_view id) const;

    Form form = Form::NotRiff;
    uint64_t nLength = 0;
    uint32_t nRiffSize = 0; // the header's 32-bit size field
    // RF64's ds64 chunk (at offset 12 when there is one).
    bool bHasDs64 = false;
    uint64_t nDs64RiffSize = 0;
    uint64_t nDs64DataSize = 0;
    uint64_t nDs64SampleCount = 0;
    // The block align of the first live format chunk; 0 when there is none.
    uint16_t nBlockAlign = 0;
    // What the first live format chunk states, when it is a plausible integer
    // PCM or float format whose fields agree with each other.
    std::optional<WavFormat> format;

    // The damaged format chunk, when the walk met one before any live one.
    struct DamagedFormat
    {
        std::size_t nEntry = 0;
        uint16_t nFormatTag = 0; // as it stands: 1, 3 or 0xFFFE
        // What it states: integer or float (an extensible one's sub-format),
        // the bits derived from the block align where the field is missing.
        WavFormat format;
        bool bBitsMissing = false;
    };
    std::optional<DamagedFormat> damagedFormat;
    std::vector<Entry> entries;
};
