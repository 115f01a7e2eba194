#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "KorvaWav.h"
#include "TempDir.h"
#include "TraceCapture.h"
#include "WavBuilder.h"

using namespace fixture;
using Outcome = KorvaWavFile::RepairOutcome;

// Sparse files of 2 GiB and more: only the bytes around the chunk headers are read.
namespace
{
constexpr uint64_t kGiB = uint64_t{1} << 30;
const Bytes kBext = chunk("bext", bextBody(77)), kCue = chunk("cue ", le32(0));

// A case still running after 60 s is a walk that reads the gaps or never ends:
// the alarm ends the run there, under the case's "[ RUN ]" line, rather than
// after the test's timeout with gigabytes of trace.
class LargeFile : public ::testing::Test
{
protected:
    LargeFile() { alarm(60); }
    ~LargeFile() override { alarm(0); }
    TempDir dir;
    TraceCapture trace;
    std::filesystem::path path = dir / "large.wav";

    // A sparse file of `length` bytes: `head` at offset 0, `tail` ending the file.
    void MakeSparse(uint64_t length, const Bytes& head, const Bytes& tail)
    {
        writeFile(path, head);
        std::filesystem::resize_file(path, length);
        std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(static_cast<std::streamoff>(length - tail.size()));
        out.write(reinterpret_cast<const char*>(tail.data()),
                  static_cast<std::streamsize>(tail.size()));
        ASSERT_TRUE(out.flush());
    }
};
} // namespace

// A lost format chunk, then data filling the file up to a cue chunk at its very end:
// the reader steps over GiBs of samples to find cue, and the repair writes its 24
// bytes over the remains without moving anything. Past 4 GiB the file is RF64: its
// 64-bit sizes (ds64) lead the walk, and the 32-bit size fields that say 0xFFFFFFFF
// are left as they are.
TEST_F(LargeFile, WalkedReadAndRepairedFromTwoGiBToFiveGiBInRf64)
{
    for (const uint64_t length : {2 * kGiB, 3 * kGiB, 4 * kGiB - 2, 5 * kGiB})
    {
        SCOPED_TRACE(length);
        const bool bRf64 = length > 4 * kGiB;
        const uint64_t remainsAt = bRf64 ? 658 : 622, cueAt = length - kCue.size();
        const uint64_t dataSize = cueAt - remainsAt - 24 - 8;
        const Bytes form =
            bRf64 ? cat({ascii("RF64"), le32(0xFFFFFFFF), ascii("WAVEds64"), le32(28),
                         le64(length - 8), le64(dataSize), le64(dataSize / 2), le32(0)})
                  : cat({ascii("RIFF"), le32(static_cast<uint32_t>(length - 8)), ascii("WAVE")});
        const Bytes head = cat({form, kBext, Bytes(24, 0), ascii("data"),
                                le32(bRf64 ? 0xFFFFFFFF : static_cast<uint32_t>(dataSize))});
        MakeSparse(length, head, kCue);

        KorvaWavFile file(path.c_str());
        EXPECT_EQ(file.m_nDataOffset, remainsAt + 24);
        EXPECT_EQ(file.GetDataLength(), dataSize);
        EXPECT_EQ(file.m_nCueOffset, bRf64 ? 0 : cueAt) << "beyond the reader's 32-bit offsets: 0";
        EXPECT_EQ(file.GetLength(), length);

        EXPECT_TRUE(file.RepairFMTChunk(48000, 16));
        EXPECT_EQ(file.GetRepairOutcome(), Outcome::Written) << file.GetCheckProblem();
        EXPECT_EQ(readFile(path, 0, head.size()),
                  cat({Bytes(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(remainsAt)),
                       fmtChunkMono(48000, 16), Bytes(head.end() - 8, head.end())}));
        EXPECT_EQ(readFile(path, cueAt, kCue.size() + 1), kCue) << "the file grew or cue moved";
    }
}

// bext far into the file behind a sparse JUNK chunk, live data straight behind it.
// 3 GiB in, the repair inserts its chunk there, moving only the short tail, and the
// RIFF size grows by 24. Past 4 GiB the walk still finds bext, but no RIFF size could
// state the file: nothing is written, deleted or wrapped around to its start.
TEST_F(LargeFile, BextThreeGiBInGetsAnInsertAndBeyondFourGiBIsLeftAlone)
{
    const Bytes data = chunk("data", samples(600, 5)), tail = cat({kBext, data});
    for (const uint32_t junkSize : {3u << 30, 0xFFFFFFF0u}) // bext at 0xC000_0014, 0x1_0000_0004
    {
        SCOPED_TRACE(junkSize);
        const bool found = junkSize == 3u << 30;
        const uint64_t bextAt = 20 + uint64_t{junkSize}, length = bextAt + tail.size();
        Bytes head = cat({ascii("RIFF"), le32(static_cast<uint32_t>(length - 8)), ascii("WAVEJUNK"),
                          le32(junkSize)});
        MakeSparse(length, head, tail);

        KorvaWavFile file(path.c_str());
        EXPECT_EQ(file.m_nDataOffset, found ? bextAt + kBext.size() : 0) << "a 32-bit offset";
        EXPECT_EQ(file.RepairFMTChunk(44100, 16), found);
        EXPECT_EQ(file.GetRepairOutcome(), found ? Outcome::Inserted : Outcome::TooLarge);
        EXPECT_FALSE(!found && (file.DeleteChunk("bext") || file.DeleteChunk("data")));
        putLe32(head, 4, readLe32(head, 4) + (found ? 24 : 0));
        EXPECT_EQ(readFile(path, 0, head.size() + 64), cat({head, Bytes(64, 0)}));
        EXPECT_EQ(readFile(path, bextAt, tail.size() + 25),
                  found ? cat({kBext, fmtChunkMono(44100, 16), data}) : tail);
    }
}
