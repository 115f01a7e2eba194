#include "WavFile.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unistd.h>

#include "RiffIO.h"

namespace
{
constexpr uint32_t kFmtFieldBytes = 16; // the six fields the reader takes from a fmt body

// Reads the identifier at nOffset and tells whether it is pszExpected.
bool ChunkIdAt(FILE* pFile, uint64_t nOffset, const char* pszExpected)
{
    char szId[5];
    return riff::Seek(pFile, nOffset) && riff::ReadId(pFile, szId) &&
           strcmp(szId, pszExpected) == 0;
}
} // namespace

CWavFile::CWavFile(const char* pszPath) : CRiffFile(pszPath)
{
    DoGetProperties(true);
}

bool CWavFile::CheckHeader()
{
    char szId[5];
    if (!riff::Seek(m_pFile, 0) || !riff::ReadId(m_pFile, szId))
        return true;
    // RF64 (and its BW64 twin) is RIFF with 64-bit sizes.
    return strcmp(szId, "RIFF") != 0 && strcmp(szId, "RF64") != 0 && strcmp(szId, "BW64") != 0;
}

bool CWavFile::GetProperties(uint64_t nOffset)
{
    if (!ChunkIdAt(m_pFile, nOffset, "fmt "))
        return false;
    uint32_t nSize = 0;
    if (!riff::ReadU32(m_pFile, m_bIntelByteOrder, nSize))
        return true;

    // A body shorter than 16 bytes, or one cut off by the end of the file,
    // gives only the fields whose bytes are all there; the rest keep their values.
    uint8_t body[kFmtFieldBytes];
    const size_t nWanted = nSize < kFmtFieldBytes ? nSize : kFmtFieldBytes;
    const size_t nHave = fread(body, 1, nWanted, m_pFile);
    const auto u16 = [&](size_t at, uint16_t& field)
    {
        if (at + 2 <= nHave)
        {
            uint16_t n;
            memcpy(&n, body + at, 2);
            field = m_bIntelByteOrder ? n : riff::Swap16(n);
        }
    };
    const auto u32 = [&](size_t at, uint32_t& field)
    {
        if (at + 4 <= nHave)
        {
            uint32_t n;
            memcpy(&n, body + at, 4);
            field = m_bIntelByteOrder ? n : riff::Swap32(n);
        }
    };
    u16(0, m_nFormatTag);
    u16(2, m_nChannels);
    u32(4, m_nSampleRate);
    u32(8, m_nBytesPerSec);
    u16(12, m_nBlockAlign);
    u16(14, m_nBitsPerSample);
    return true;
}

bool CWavFile::GetDataProperties(uint64_t nOffset)
{
    if (!ChunkIdAt(m_pFile, nOffset, "data"))
        return false;
    uint32_t nSize = 0;
    if (riff::ReadU32(m_pFile, m_bIntelByteOrder, nSize))
        m_nDataLength = nSize;
    // RF64 keeps a size of 0xFFFFFFFF in its ds64 chunk, which opens the file.
    constexpr uint64_t kDs64DataSize = 28;
    char szForm[5], szDs64[5];
    uint8_t size64[8];
    if (nSize == 0xFFFFFFFF && riff::Seek(m_pFile, 0) && riff::ReadId(m_pFile, szForm) &&
        (strcmp(szForm, "RF64") == 0 || strcmp(szForm, "BW64") == 0) &&
        riff::Seek(m_pFile, riff::kHeaderSize) && riff::ReadId(m_pFile, szDs64) &&
        strcmp(szDs64, "ds64") == 0 && riff::Seek(m_pFile, kDs64DataSize) &&
        riff::ReadBytes(m_pFile, size64, sizeof size64))
        m_nDataLength = riff::Get64(size64, m_bIntelByteOrder);
    return true;
}

void CWavFile::DoGetProperties(bool bClose)
{
    // A stream found open is read and left open; one opened here is closed
    // again unless the caller asks to keep it.
    const bool bOpenedHere = !m_bFileOpen;
    if (bOpenedHere && !Open("r"))
        return;
    m_bNotRiff = CheckHeader();

    const auto search = [this](const char* pszChunk) -> uint64_t
    { return SearchForChunk(m_pFile, riff::kHeaderSize, pszChunk, false, m_bIntelByteOrder); };
    GetProperties(search("fmt "));
    search("bext"); // walked for its trace; the Broadcast Wave readers are given its offset
    m_nRegnOffset = search("regn");
    m_nDataOffset = search("data");
    GetDataProperties(m_nDataOffset);
    m_nCueOffset = search("cue ");
    m_bHasCue = m_nCueOffset != 0;
    m_nAfjxOffset = search("AFJx");
    m_bHasAfjx = m_nAfjxOffset != 0;

    if (bOpenedHere && bClose)
        Close();
}

bool CWavFile::SetPath(const char* pszPath)
{
    const bool bSet = CAudioFile::SetPath(pszPath, true);
    if (bSet)
        DoGetProperties(true);
    return bSet;
}

bool CWavFile::SetPath(const char& rPath)
{
    return SetPath(&rPath);
}

// --- New files and appends -----------------------------------------------

namespace
{
struct FileCloser
{
    void operator()(FILE* pFile) const { fclose(pFile); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// The copy buffer: the full size when memory allows, the small one otherwise.
struct CopyBuffer
{
    std::unique_ptr<uint8_t[]> pBytes;
    uint32_t nSize = 0;
};

CopyBuffer AllocateCopyBuffer()
{
    for (const uint32_t nSize : {uint32_t{riff::kBlockSize}, CWavFile::kFallbackBufferSize})
    {
        if (std::unique_ptr<uint8_t[]> pBytes{new (std::nothrow) uint8_t[nSize]()})
            return {std::move(pBytes), nSize};
    }
    return {};
}

// Copies nBytes from nFrom of pFrom's file to the end of pTo's file.
bool CopyFrames(FILE* pFrom, uint64_t nFrom, FILE* pTo, uint64_t nTo, uint64_t nBytes,
                const CopyBuffer& buffer)
{
    return fflush(pFrom) == 0 && fflush(pTo) == 0 &&
           riff::MoveBytes(fileno(pFrom), nFrom, fileno(pTo), nTo, nBytes, buffer.pBytes.get(),
                           buffer.nSize) == riff::Moved::All;
}

// A new file written beside its final path and renamed over it once complete,
// so that a failed write leaves whatever stood at the path untouched.
class PendingFile
{
public:
    explicit PendingFile(const char* pszFinalPath) : m_finalPath(pszFinalPath)
    {
        static std::atomic<unsigned> s_nSerial{0};
        for (int nTry = 0; nTry < 100 && !m_pFile; ++nTry)
        {
            m_tempPath = m_finalPath + ".korva-" + std::to_string(getpid()) + "-" +
                         std::to_string(s_nSerial++);
            // "x": never reuse a file that is already there.
            m_pFile.reset(fopen(m_tempPath.c_str(), "wx"));
            if (!m_pFile && errno != EEXIST)
                break;
        }
    }
    ~PendingFile()
    {
        if (m_pFile)
        {
            m_pFile.reset();
            remove(m_tempPath.c_str());
        }
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    FILE* Stream() const { return m_pFile.get(); }

    // Flushes, closes and moves the file to its final path; false (and the
    // file removed) when any of that fails.
    bool Commit()
    {
        const bool bWritten = fflush(m_pFile.get()) == 0 && ferror(m_pFile.get()) == 0;
        const bool bClosed = fclose(m_pFile.release()) == 0;
        if (bWritten && bClosed && rename(m_tempPath.c_str(), m_finalPath.c_str()) == 0)
            return true;
        const int nError = errno; // the caller's to tell
        remove(m_tempPath.c_str());
        errno = nError;
        return false;
    }

private:
    std::string m_finalPath;
    std::string m_tempPath;
    FilePtr m_pFile;
};
} // namespace

CWavFile::Copy CWavFile::PlanFrameCopy(uint32_t nStartFrame, uint32_t nEndFrame, FrameCopy& copy)
{
    if (m_nBlockAlign == 0)
        return SearchForChunk(m_pFile, riff::kHeaderSize, "fmt ", false, m_bIntelByteOrder) == 0
                   ? Copy::NoFormat
                   : Copy::BlockAlignZero;
    if (m_nDataOffset == 0)
        return Copy::NoData;
    if (nStartFrame > nEndFrame)
        return Copy::StartAfterEnd;
    // Whole frames of the data chunk: bytes of a partial last frame, or of a
    // chunk behind the data, are no frames.
    if (nEndFrame > GetFullFileRegionEnd())
        return Copy::PastTheFrames;
    // The data chunk must still stand where the property reader found it.
    if (!ChunkIdAt(m_pFile, m_nDataOffset, "data"))
        return Copy::NoData;
    const uint64_t nBytes = uint64_t{nEndFrame - nStartFrame} * m_nBlockAlign;
    if (nBytes > UINT32_MAX)
        return Copy::TooLarge;
    copy.nBytes = static_cast<uint32_t>(nBytes);
    copy.nFrom = m_nDataOffset + riff::kChunkHeaderSize + uint64_t{nStartFrame} * m_nBlockAlign;
    return copy.nFrom + copy.nBytes <= m_nFileLength ? Copy::Copied : Copy::FramesCutOff;
}

bool CWavFile::CreateNewFile(const char* pszPath, uint32_t nStartFrame, uint32_t nEndFrame)
{
    return CopyWithSourceOpen(&CWavFile::WriteNewFile, pszPath, nStartFrame, nEndFrame);
}

CWavFile::Copy CWavFile::WriteNewFile(const char* pszPath, const FrameCopy& copy)
{
    const CopyBuffer buffer = AllocateCopyBuffer();
    if (!buffer.pBytes)
        return WithSystemError(Copy::IoFailed);
    const uint64_t nFmtOffset =
        SearchForChunk(m_pFile, riff::kHeaderSize, "fmt ", false, m_bIntelByteOrder);
    char szFmtId[5];
    uint32_t nFmtSize = 0;
    if (nFmtOffset == 0 || !riff::Seek(m_pFile, nFmtOffset) || !riff::ReadId(m_pFile, szFmtId) ||
        !riff::ReadU32(m_pFile, m_bIntelByteOrder, nFmtSize))
        return Copy::NoFormat;
    if (nFmtSize > buffer.nSize)
        return Copy::FormatTooLarge;
    if (!riff::ReadBytes(m_pFile, buffer.pBytes.get(), nFmtSize))
        return WithSystemError(Copy::IoFailed);
    // RIFF size: form type, two chunk headers, the fmt body and the frames.
    const uint64_t nRiffSize = 4 + 2 * riff::kChunkHeaderSize + uint64_t{nFmtSize} + copy.nBytes;
    if (nRiffSize > UINT32_MAX)
        return Copy::TooLarge;

    PendingFile destination(pszPath);
    FILE* pOut = destination.Stream();
    if (pOut == nullptr)
        return WithSystemError(Copy::DestinationUnopened);
    // A plain RIFF file whatever the source's form: an RF64 source's sizes
    // are in its ds64 chunk, which the new file, small enough for RIFF, lacks.
    const bool bWritten =
        riff::WriteBytes(pOut, "RIFF", 4) &&
        riff::WriteU32(pOut, m_bIntelByteOrder, static_cast<uint32_t>(nRiffSize)) &&
        riff::WriteBytes(pOut, "WAVE", 4) && riff::WriteBytes(pOut, szFmtId, 4) &&
        riff::WriteU32(pOut, m_bIntelByteOrder, nFmtSize) &&
        riff::WriteBytes(pOut, buffer.pBytes.get(), nFmtSize) &&
        riff::WriteBytes(pOut, "data", 4) && riff::WriteU32(pOut, m_bIntelByteOrder, copy.nBytes) &&
        CopyFrames(m_pFile, copy.nFrom, pOut, riff::kHeaderSize + 16 + nFmtSize, copy.nBytes,
                   buffer) &&
        destination.Commit();
    return bWritten ? Copy::Copied : WithSystemError(Copy::IoFailed);
}

bool CWavFile::AppendToFile(const char* pszPath, uint32_t nStartFrame, uint32_t nEndFrame)
{
    return CopyWithSourceOpen(&CWavFile::AppendFrames, pszPath, nStartFrame, nEndFrame);
}

CWavFile::Copy CWavFile::AppendFrames(const char* pszPath, const FrameCopy& copy)
{
    const FilePtr pDest(fopen(pszPath, "r+"));
    if (!pDest)
        return WithSystemError(Copy::DestinationUnopened);
    const CopyBuffer buffer = AllocateCopyBuffer();
    if (!buffer.pBytes)
        return WithSystemError(Copy::IoFailed);

    FILE* pOut = pDest.get();
    // RF64 keeps its sizes in ds64, which this does not rewrite.
    if (ChunkIdAt(pOut, 0, "RF64") || ChunkIdAt(pOut, 0, "BW64"))
        return Copy::DestinationRf64;
    const uint64_t nDataOffset =
        ChunkIdAt(pOut, 0, "RIFF")
            ? SearchForChunk(pOut, riff::kHeaderSize, "data", false, m_bIntelByteOrder)
            : 0;
    uint32_t nDataSize = 0;
    uint32_t nRiffSize = 0;
    uint64_t nLength = 0;
    if (nDataOffset == 0 || !ChunkIdAt(pOut, nDataOffset, "data") ||
        !riff::ReadU32(pOut, m_bIntelByteOrder, nDataSize) || !riff::Seek(pOut, 4) ||
        !riff::ReadU32(pOut, m_bIntelByteOrder, nRiffSize) || !riff::SeekEnd(pOut, nLength))
        return Copy::DestinationNotWav;
    // The frames land at the end of the file, so they extend the data chunk
    // only when that chunk ends the file exactly (no pad byte, nothing behind it).
    if (nDataOffset + riff::kChunkHeaderSize + nDataSize != nLength)
        return Copy::DataNotLast;
    if (uint64_t{nDataSize} + copy.nBytes > UINT32_MAX ||
        nLength + copy.nBytes > riff::kMaxRiffLength)
        return Copy::DestinationFull;

    // The frames first, the sizes last: until the sizes change, the frames
    // behind the data chunk are outside every chunk and easily cut off again.
    const bool bAppended =
        CopyFrames(m_pFile, copy.nFrom, pOut, nLength, copy.nBytes, buffer) &&
        riff::Seek(pOut, nDataOffset + 4) &&
        riff::WriteU32(pOut, m_bIntelByteOrder, nDataSize + copy.nBytes) && riff::Seek(pOut, 4) &&
        riff::WriteU32(pOut, m_bIntelByteOrder, static_cast<uint32_t>(nLength + copy.nBytes - 8)) &&
        fflush(pOut) == 0;
    if (bAppended)
        return Copy::Copied;
    const Copy failed = WithSystemError(Copy::IoFailed);
    // Back to the old length and sizes; what could not be flushed is dropped.
    fflush(pOut);
    clearerr(pOut);
    if (ftruncate(fileno(pOut), static_cast<off_t>(nLength)) == 0 &&
        riff::Seek(pOut, nDataOffset + 4))
    {
        riff::WriteU32(pOut, m_bIntelByteOrder, nDataSize);
        riff::Seek(pOut, 4);
        riff::WriteU32(pOut, m_bIntelByteOrder, nRiffSize);
    }
    return failed;
}

bool CWavFile::CopyWithSourceOpen(FrameCopier pCopier, const char* pszPath, uint32_t nStartFrame,
                                  uint32_t nEndFrame)
{
    m_nSystemError = errno = 0; // a failure that sets none is told as 0
    const StreamUse source(*this, false);
    FrameCopy copy;
    if (pszPath == nullptr)
        m_eCopy = Copy::DestinationUnopened;
    else if (!source)
        m_eCopy = WithSystemError(Copy::SourceUnopened);
    else if ((m_eCopy = PlanFrameCopy(nStartFrame, nEndFrame, copy)) == Copy::Copied)
        m_eCopy = (this->*pCopier)(pszPath, copy);
    return m_eCopy == Copy::Copied;
}

// --- Per-channel streams ----------------------------------------------------

void CWavFile::CloseFiles(FILE** pFiles)
{
    assert(pFiles);
    if (pFiles == nullptr)
        return; // builds without assertions ignore the call
    for (uint16_t nChannel = 0; nChannel < m_nChannels; ++nChannel)
    {
        if (pFiles[nChannel] != nullptr)
            fclose(pFiles[nChannel]);
    }
}

void CWavFile::SetFileDataLen(FILE** pFiles)
{
    assert(pFiles);
    if (pFiles == nullptr)
        return; // builds without assertions ignore the call
    for (uint16_t nChannel = 0; nChannel < m_nChannels; ++nChannel)
    {
        FILE* pFile = pFiles[nChannel];
        uint64_t nLength = 0;
        if (pFile != nullptr && riff::SeekEnd(pFile, nLength) && nLength >= 8 &&
            riff::Seek(pFile, 4))
            riff::WriteU32(pFile, m_bIntelByteOrder, static_cast<uint32_t>(nLength - 8));
    }
}

bool CWavFile::WriteBuffer(FILE** pFiles, const void* pBuffer, uint32_t nBytes)
{
    if (pFiles == nullptr || pBuffer == nullptr || nBytes == 0)
        return false;
    bool bAllWritten = true;
    for (uint16_t nChannel = 0; nChannel < m_nChannels; ++nChannel)
        bAllWritten = pFiles[nChannel] != nullptr &&
                      riff::WriteBytes(pFiles[nChannel], pBuffer, nBytes) && bAllWritten;
    return bAllWritten;
}

// --- Broadcast Wave and Pro Tools -----------------------------------------

namespace
{
constexpr uint64_t kBextTimeReferenceLow = 346; // behind the header and the text fields

// Reads the size of the bext chunk at nOffset and the low word of its time
// reference. A chunk too short to hold the time reference has none (its bytes
// there belong to the next chunk): it is still a bext chunk, with a time of 0.
bool ReadBextTimeReference(FILE* pFile, uint64_t nOffset, bool bIntelByteOrder, uint32_t& nSize,
                           uint32_t& nTimeLow)
{
    if (pFile == nullptr || !ChunkIdAt(pFile, nOffset, "bext") ||
        !riff::ReadU32(pFile, bIntelByteOrder, nSize))
        return false;
    nTimeLow = 0;
    if (riff::kChunkHeaderSize + nSize >= kBextTimeReferenceLow + 4 &&
        riff::Seek(pFile, nOffset + kBextTimeReferenceLow))
        riff::ReadU32(pFile, bIntelByteOrder, nTimeLow);
    return true;
}
} // namespace

uint32_t CWavFile::GetTimeStampFromBWF(FILE* pFile, uint64_t nOffset, bool& bFound,
                                       bool bIntelByteOrder)
{
    uint32_t nSize = 0;
    uint32_t nTimeLow = 0;
    bFound = ReadBextTimeReference(pFile, nOffset, bIntelByteOrder, nSize, nTimeLow);
    return bFound ? nTimeLow : 0;
}

uint32_t CWavFile::GetTimeStampFromBWF(uint64_t nOffset)
{
    const StreamUse stream(*this, false);
    uint32_t nSize = 0;
    uint32_t nTimeLow = 0;
    m_bHasBext =
        stream && ReadBextTimeReference(m_pFile, nOffset, m_bIntelByteOrder, nSize, nTimeLow);
    if (m_bHasBext)
        m_nBextLength = nSize + static_cast<uint32_t>(riff::kChunkHeaderSize);
    return m_bHasBext ? nTimeLow : 0;
}

uint32_t CWavFile::GetNumberOfProToolsRegions()
{
    if (m_nRegnOffset == 0)
        return 0;
    const StreamUse stream(*this, false);
    uint32_t nRegions = 0;
    const bool bRead = stream && ChunkIdAt(m_pFile, m_nRegnOffset, "regn") &&
                       riff::Seek(m_pFile, m_nRegnOffset + riff::kChunkHeaderSize) &&
                       riff::ReadU32(m_pFile, m_bIntelByteOrder, nRegions);
    return bRead ? nRegions : 0;
}

uint64_t CWavFile::GetFullFileRegionEnd() const
{
    return m_nBlockAlign == 0 ? 0 : m_nDataLength / m_nBlockAlign;
}
