#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

#include "KorvaWav.h"
#include "TempDir.h"
#include "TraceCapture.h"
#include "WavBuilder.h"

using namespace fixture;
using Outcome = KorvaWavFile::RepairOutcome;

// Files of 2 GiB and more, made sparse: the gaps are never written, and every
// check reads only the few bytes around the chunk headers.
namespace
{
constexpr uint64_t kGiB = uint64_t{1} << 30;

struct FileCloser
{
    void operator()(FILE* f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Writes bytes at an offset of an existing file.
void WriteAt(const std::filesystem::path& path, uint64_t offset, const Bytes& bytes)
{
    const File f(fopen(path.c_str(), "r+b"));
    ASSERT_TRUE(f);
    ASSERT_EQ(fseeko(f.get(), static_cast<off_t>(offset), SEEK_SET), 0);
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f.get()), bytes.size());
}

Bytes ReadAt(const std::filesystem::path& path, uint64_t offset, std::size_t size)
{
    const File f(fopen(path.c_str(), "rb"));
    Bytes out(size);
    if (!f || fseeko(f.get(), static_cast<off_t>(offset), SEEK_SET) != 0)
        return {};
    out.resize(fread(out.data(), 1, size, f.get()));
    return out;
}

// A sparse file of `length` bytes: `head` at offset 0, `tail` ending the file.
void MakeSparse(const std::filesystem::path& path, uint64_t length, const Bytes& head,
                const Bytes& tail)
{
    writeFile(path, head);
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(length)), 0);
    WriteAt(path, length - tail.size(), tail);
}

const Bytes kBext = chunk("bext", bextBody(77)); // 610 bytes at 12
const Bytes kCue = chunk("cue ", le32(0));       // 12 bytes ending the file
} // namespace

class LargeFile : public ::testing::Test
{
protected:
    TempDir dir;
    TraceCapture trace;
    std::filesystem::path path = dir / "large.wav";
};

// Lost format chunk, then a data chunk that fills the file up to a cue chunk
// at its very end: the reader must step over GiBs of samples to find cue, and
// the repair writes its 24 bytes over the remains without moving anything.
TEST_F(LargeFile, WalkedReadAndRepairedAtTwoThreeAndJustUnderFourGiB)
{
    for (const uint64_t length : {2 * kGiB, 3 * kGiB, 4 * kGiB - 2})
    {
        SCOPED_TRACE(length);
        const uint64_t dataSize = length - 646 - 8 - kCue.size();
        const Bytes head =
            cat({ascii("RIFF"), le32(static_cast<uint32_t>(length - 8)), ascii("WAVE"), kBext,
                 Bytes(24, 0), ascii("data"), le32(static_cast<uint32_t>(dataSize))});
        MakeSparse(path, length, head, kCue);
        const uint64_t cueAt = length - kCue.size();

        KorvaWavFile file;
        file.SetPath(path.c_str(), true);
        EXPECT_EQ(file.m_nDataOffset, 646u);
        EXPECT_EQ(file.GetDataLength(), dataSize);
        EXPECT_TRUE(file.m_bHasCue);
        EXPECT_EQ(file.m_nCueOffset, cueAt);
        EXPECT_EQ(file.GetLength(), length);

        EXPECT_TRUE(file.RepairFMTChunk(48000, 24));
        EXPECT_EQ(file.GetRepairOutcome(), Outcome::Written);
        EXPECT_EQ(std::filesystem::file_size(path), length);
        Bytes expectedHead = head;
        const Bytes fmt = fmtChunkMono(48000, 24);
        std::copy(fmt.begin(), fmt.end(), expectedHead.begin() + 622);
        EXPECT_EQ(ReadAt(path, 0, head.size()), expectedHead);
        EXPECT_EQ(ReadAt(path, cueAt, kCue.size()), kCue);

        // The repaired file reads back with its new format.
        CWavFile repaired(path.c_str());
        EXPECT_EQ(repaired.m_nSampleRate, 48000u);
        EXPECT_EQ(repaired.m_nBitsPerSample, 24u);
        EXPECT_EQ(repaired.m_nCueOffset, cueAt);
    }
}

// A live data chunk straight behind a bext chunk that stands 3 GiB into the
// file: the repair inserts the new chunk there, moving only the short tail,
// and the RIFF size grows by 24.
TEST_F(LargeFile, InsertsBehindABextChunkThreeGiBIn)
{
    const uint64_t junkSize = 3 * kGiB;
    const Bytes tail = cat({kBext, chunk("data", samples(600, 5))});
    const uint64_t length = 12 + 8 + junkSize + tail.size();
    MakeSparse(path, length,
               cat({ascii("RIFF"), le32(static_cast<uint32_t>(length - 8)), ascii("WAVE"),
                    ascii("JUNK"), le32(static_cast<uint32_t>(junkSize))}),
               tail);
    const uint64_t bextAt = 20 + junkSize;

    KorvaWavFile file;
    file.SetPath(path.c_str(), true);
    EXPECT_EQ(file.m_nDataOffset, bextAt + kBext.size());
    EXPECT_TRUE(file.RepairFMTChunk(44100, 16));
    EXPECT_EQ(file.GetRepairOutcome(), Outcome::Inserted);
    EXPECT_EQ(std::filesystem::file_size(path), length + 24);
    EXPECT_EQ(readLe32(ReadAt(path, 0, 8), 4), static_cast<uint32_t>(length + 24 - 8));
    EXPECT_EQ(ReadAt(path, bextAt, tail.size() + 24),
              cat({kBext, fmtChunkMono(44100, 16), chunk("data", samples(600, 5))}));
}

// Past 4 GiB the 32-bit chunk offsets end: a bext chunk there is not found,
// so nothing is written, deleted or wrapped around to the start of the file.
TEST_F(LargeFile, ChunksBeyondFourGiBAreLeftAloneNotWrapped)
{
    const uint32_t junkSize = 0xFFFFFFF0u; // bext would start at 0x1_0000_0004
    const Bytes tail = cat({kBext, Bytes(24, 0), chunk("data", samples(64))});
    const uint64_t length = 12 + 8 + uint64_t{junkSize} + tail.size();
    const Bytes head =
        cat({ascii("RIFF"), le32(0xFFFFFFFFu), ascii("WAVE"), ascii("JUNK"), le32(junkSize)});
    MakeSparse(path, length, head, tail);

    KorvaWavFile file;
    file.SetPath(path.c_str(), true);
    EXPECT_EQ(file.m_nDataOffset, 0u);
    EXPECT_TRUE(file.RepairFMTChunk(48000, 24));
    EXPECT_EQ(file.GetRepairOutcome(), Outcome::NoBext);
    EXPECT_FALSE(file.DeleteChunk("bext"));
    EXPECT_FALSE(file.DeleteChunk("data"));

    EXPECT_EQ(std::filesystem::file_size(path), length);
    EXPECT_EQ(ReadAt(path, 0, head.size() + 64), cat({head, Bytes(64, 0)}));
    EXPECT_EQ(ReadAt(path, length - tail.size(), tail.size()), tail);
}
