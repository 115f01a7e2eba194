#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

// The root of the file classes: one path, at most one open stream on it, the
// fields of a WAV format chunk and three lengths, and the byte-order flag that
// every reader and writer consults.
//
// Objects are created and destroyed as their most derived class; the one
// virtual operation is SetPath, so the destructor is deliberately not virtual.
class CAudioFile
{
public:
    // Paths, with their terminating NUL, must fit in this many bytes.
    static constexpr std::size_t kPathCapacity = 3000;

    CAudioFile();
    // A path that does not fit kPathCapacity is refused: the object is then
    // exactly as default-constructed.
    explicit CAudioFile(const char* pszPath);
    ~CAudioFile();

    CAudioFile(const CAudioFile&) = delete;
    CAudioFile& operator=(const CAudioFile&) = delete;

    // Opens the path with a standard I/O mode ("r", "r+"), measures the file
    // and leaves the stream at its end. False without a path, when a stream is
    // already open, when the file is missing (then FileExists turns false for
    // good), when it is no regular file, or when the stream cannot be opened.
    // Opening never waits: a FIFO at the path is refused, not read.
    bool Open(const char* pszMode);
    // Flushes and closes an open stream; false when nothing was open.
    bool Close();

    uint64_t GetLength() const { return m_nFileLength; }
    bool FileExists() const { return !m_bFileMissing; }
    uint64_t GetDataLength() const { return m_nDataLength; }

    // Stores the path and the byte-order flag. The flag is taken on every call;
    // a new path closes an open stream, the same path leaves it open. A path
    // that does not fit kPathCapacity is refused with false and nothing changes.
    virtual bool SetPath(const char* pszPath, bool bIntelByteOrder);

    // The fields, in the order the file classes have always kept them.
    std::unique_ptr<char[]> m_pszPath; // kPathCapacity bytes, NUL-terminated
    uint16_t m_nFormatTag = 0;
    uint16_t m_nChannels = 0;
    uint16_t m_nBlockAlign = 0;
    uint16_t m_nBitsPerSample = 0;
    uint32_t m_nSampleRate = 0;
    uint32_t m_nBytesPerSec = 0;
    uint64_t m_nDataLength = 0;
    uint64_t m_nDataOffset = 0; // offset of the data chunk's identifier; 0 = none
    uint64_t m_nFileLength = 0; // as measured by the last successful Open
    FILE* m_pFile = nullptr;    // meaningful only while m_bFileOpen
    bool m_bFileOpen = false;
    bool m_bFileMissing = false;
    bool m_bNotRiff = false;
    bool m_bPathSet = false;
    bool m_bIntelByteOrder = true; // true: file values pass unchanged (little-endian host)

protected:
    // Holds the stream open for one operation, by the one rule for streams:
    // an operation that opens a closed stream closes it again, and one that
    // finds it open leaves it open. An operation that writes and finds it open
    // for reading only holds it open for update while it runs, then reopens
    // it for reading.
    class StreamUse
    {
    public:
        StreamUse(CAudioFile& file, bool bWrite);
        ~StreamUse();
        StreamUse(const StreamUse&) = delete;
        StreamUse& operator=(const StreamUse&) = delete;
        explicit operator bool() const { return m_file.m_bFileOpen; }

    private:
        CAudioFile& m_file;
        bool m_bClose = false;
        bool m_bReopenForReading = false;
    };

private:
    bool m_bWritable = false; // the open stream was opened for update
};
