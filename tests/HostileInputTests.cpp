#include <gtest/gtest.h>

#include <array>
#include <string>
#include <unistd.h>
#include <vector>

#include "KorvaWav.h"
#include "TempDir.h"
#include "TraceCapture.h"
#include "WavBuilder.h"

using namespace fixture;
using Outcome = KorvaWavFile::RepairOutcome;

// Hostile files: the reader (its offsets reset, fields with no bytes kept), the repair
// and the deletion of JUNK each end right; a file that was only read stays as it was.
namespace
{
using Format = std::array<uint32_t, 6>; // tag, channels, rate, bytes/s, block align, bits
// The reader reads a 96 kHz 16-bit stereo file with cue first.
const Format kFirst{1, 2, 96000, 384000, 4, 16}, kPcm48k24{1, 1, 48000, 144000, 3, 24};
const Bytes kPcm = samples(60, 7), kData = chunk("data", kPcm);
const Bytes kBext = chunk("bext", bextBody(42)); // 610 bytes
const Bytes kRemains(24, 0);                     // a wiped format chunk

struct HostileCase
{
    std::string name;
    Bytes file;
    uint64_t dataOffset = 0, dataLength = 0; // what the reader finds
    Outcome outcome = Outcome::NoBext;       // what the repair of a copy does
    uint64_t fmtAt = 0;                      // and where it puts the new chunk
    Format format = kFirst;
    bool notRiff = false;
    Bytes junkDeleted = {}; // the file once JUNK is deleted; empty: refused
};

Bytes FmtOfSize(uint32_t size)
{
    Bytes body = fmtPcm(1, 48000, 24);
    body.resize(size, 0);
    return chunk("fmt ", body);
}

std::vector<HostileCase> HostileCases()
{
    constexpr auto W = Outcome::Written, F = Outcome::FormatExists, B = Outcome::BextUnreadable;
    const Bytes lost = riff({kBext, kRemains, kData}), junk = chunk("JUNK", {}), odd = {1, 2, 3};
    const auto withFmt = [](const Bytes& fmt) { return riff({fmt, kBext, kData}); };
    Bytes many, rifx = lost; // bext at 12, the remains at 622, data at 646
    for (int i = 1; i < 5000; ++i)
        many = cat({many, junk});
    std::copy_n("RIFX", 4, rifx.begin());
    std::vector<HostileCase> cases = {
        // A cut header is no live chunk behind bext: the new one is written there.
        {"DataHeaderCutAfterItsIdentifier", cat({riff({kBext}), ascii("data"), {9, 0}}), 622, 0, W,
         622},
        {"HeaderCutInsideItsIdentifier", cat({riff({kBext}), ascii("da")}), 0, 0, W, 622},
        // Sizes that run past the end end the walk: nothing behind is found.
        {"JunkSizePastTheEndHidesBext", riff({chunkDeclared("JUNK", 5000, {}), kBext, kRemains})},
        {"BextSizePastTheEndIsRefused", riff({chunkDeclared("bext", 5000, bextBody(0))}), 0, 0, B},
        // Zero sizes are stepped over, thousands of them quickly; only the first JUNK goes.
        {"ZeroSizeJunkBeforeBext", riff({junk, kBext, kRemains, kData}), 654, 60, W, 630, kFirst,
         false, riff({kBext, kRemains, kData})},
        {"FiveThousandZeroSizeChunks", riff({junk, many, kBext, kRemains, kData}), 40646, 60, W,
         40622, kFirst, false, riff({many, kBext, kRemains, kData})},
        // Odd sizes: only data is followed by a pad byte, which no deletion takes.
        {"OddDataWithItsPadByte",
         riff({kBext, kRemains, chunk("data", samples(61), true), chunk("LIST", {})}), 646, 61, W,
         622},
        {"OddDataWithoutPadByteEndingTheFile", riff({kBext, kRemains, chunk("data", samples(61))}),
         646, 61, W, 622},
        {"OddBextGetsTheChunkAtAnOddOffset",
         riff({chunk("bext", bextBody(1, 0, 603)), kRemains, kData}), 647, 60, W, 623},
        {"OddJunkWithoutPadByte", riff({chunk("JUNK", odd), kBext, kRemains, kData}), 657, 60, W,
         633, kFirst, false, riff({kBext, kRemains, kData})},
        {"OddJunkWithAPadByteHidesBext", riff({chunk("JUNK", odd, true), kBext, kRemains, kData}),
         0, 0, Outcome::NoBext, 0, kFirst, false, riff({Bytes{0}, kBext, kRemains, kData})},
        // fmt chunks: the fields come from the bytes the chunk holds, and the
        // repair never touches a file that has one.
        {"FmtCutByTheEndOfTheFile",
         cat({riff({kBext, kData}), ascii("fmt "), le32(16), le16(1), le16(2)}), 622, 60, F, 0,
         Format{1, 2, 96000, 384000, 4, 16}},
        {"TwoFmtChunksTheFirstCounts",
         riff({FmtOfSize(16), chunk("fmt ", fmtPcm(2, 44100, 16)), kData}), 60, 60, F, 0,
         kPcm48k24},
        {"FmtAfterData", riff({kBext, kData, FmtOfSize(16)}), 622, 60, F, 0, kPcm48k24},
        // bext short, last and twice; a live chunk straight behind it is moved up.
        {"BextShorterThan602", riff({chunk("bext", bextBody(0, 0, 64)), kRemains, kData}), 108, 60,
         W, 84},
        {"BextLastInTheFile", riff({kData, kBext}), 12, 60, W, 690},
        {"BextTwiceTheFirstCounts", riff({kBext, kRemains, chunk("bext", bextBody(7)), kData}),
         1256, 60, W, 622},
        {"DataStraightBehindBext", riff({kBext, kData}), 622, 60, Outcome::Inserted, 622},
        // A file that does not begin with RIFF is flagged and walked all the same.
        {"NotRiff", rifx, 646, 60, W, 622, kFirst, true},
    };
    const Bytes header = cat({ascii("RIFF"), le32(4), ascii("WAVE")});
    for (std::size_t n = 0; n < 12; ++n) // the RIFF header cut anywhere
        cases.push_back({"Only" + std::to_string(n) + "Bytes",
                         Bytes(header.begin(), header.begin() + n), 0, 0, Outcome::NoBext, 0,
                         kFirst, n < 4});
    // The RIFF size is not trusted: the walk goes by the file's length, the repair keeps it.
    for (const uint32_t size : {0u, 4u, 100000u, 0xFFFFFFFFu})
    {
        cases.push_back({"RiffSize" + std::to_string(size), lost, 646, 60, W, 622});
        putLe32(cases.back().file, 4, size);
    }
    for (uint32_t size = 0xFFFFFFF7u; size != 0; ++size)
    {
        const std::string n = std::to_string(size);
        cases.push_back({"JunkSize" + n, riff({chunkDeclared("JUNK", size, {}), kBext, kRemains})});
        cases.push_back({"BextSize" + n, riff({chunkDeclared("bext", size, {})}), 0, 0, B});
        // The data size is recorded as declared; nothing behind it is reachable.
        cases.push_back({"DataSize" + n,
                         riff({kBext, kRemains, chunkDeclared("data", size, kPcm), FmtOfSize(16)}),
                         646, size, W, 622});
    }
    for (const uint32_t size : {0u, 14u, 16u, 18u, 40u, 65536u})
    {
        Format f = size < 14 ? kFirst : kPcm48k24;
        f[5] = size < 16 ? 16 : 24; // a 14-byte body has no bits field
        cases.push_back(
            {"Fmt" + std::to_string(size), withFmt(FmtOfSize(size)), 630 + size, 60, F, 0, f});
    }
    // Zero fields do not make a fmt chunk lost: the repair leaves it.
    cases.push_back({"ZeroFields", withFmt(chunk("fmt ", cat({le16(1), Bytes(14, 0)}))), 646, 60, F,
                     0, Format{1, 0, 0, 0, 0, 0}});
    return cases;
}

// A case still running after 20 s is a hang: the alarm ends the run there,
// under the case's "[ RUN ]" line, rather than never.
class HostileInput : public ::testing::TestWithParam<HostileCase>
{
protected:
    HostileInput() { alarm(20); }
    ~HostileInput() override { alarm(0); }
    TempDir dir;
    TraceCapture trace;
};
} // namespace

TEST_P(HostileInput, ReaderRepairAndDeletionEndRightAndTouchOnlyWhatTheyChange)
{
    const HostileCase& c = GetParam();
    const auto source = dir / "source.wav", copy = dir / "copy.wav", junk = dir / "junk.wav";
    for (const auto& path : {source, copy, junk})
        writeFile(path, c.file);

    writeFile(dir / "first.wav",
              riff({chunk("fmt ", fmtPcm(2, 96000, 16)), chunk("cue ", {}), chunk("data", {})}));
    KorvaWavFile reader((dir / "first.wav").c_str());
    ASSERT_TRUE(reader.m_bHasCue);
    reader.SetPath(source.c_str(), true);
    EXPECT_FALSE(reader.m_bHasCue);
    EXPECT_EQ(reader.m_bNotRiff, c.notRiff);
    EXPECT_EQ(reader.m_nDataOffset, c.dataOffset);
    EXPECT_EQ(reader.GetDataLength(), c.dataLength);
    EXPECT_EQ((Format{reader.m_nFormatTag, reader.m_nChannels, reader.m_nSampleRate,
                      reader.m_nBytesPerSec, reader.m_nBlockAlign, reader.m_nBitsPerSample}),
              c.format);
    EXPECT_FALSE(reader.m_bFileOpen);
    EXPECT_EQ(readFile(source), c.file) << "the reader changed the file it read";

    KorvaWavFile repair;
    repair.SetPath(copy.c_str(), true);
    const bool result = repair.RepairFMTChunk(48000, 24);
    EXPECT_EQ(repair.GetRepairOutcome(), c.outcome)
        << KorvaWavFile::DescribeOutcome(repair.GetRepairOutcome());
    EXPECT_EQ(result, c.outcome != Outcome::FormatExists && c.outcome != Outcome::BextUnreadable);
    // The 24 bytes at fmtAt, written over what stood there or inserted with the RIFF size grown.
    Bytes repaired = c.file;
    if (c.outcome == Outcome::Written || c.outcome == Outcome::Inserted)
    {
        const auto at = repaired.begin() + static_cast<std::ptrdiff_t>(c.fmtAt);
        const auto rest = c.outcome == Outcome::Inserted ? at : std::min(at + 24, repaired.end());
        const Bytes fmt = fmtChunkMono(48000, 24);
        repaired.insert(repaired.erase(at, rest), fmt.begin(), fmt.end());
        if (c.outcome == Outcome::Inserted)
            putLe32(repaired, 4, readLe32(c.file, 4) + 24);
    }
    EXPECT_EQ(readFile(copy), repaired) << "the repair changed the wrong bytes";
    EXPECT_EQ(trace.text().find("\nFMT Chunk Exists - return\n") != std::string::npos,
              c.outcome == Outcome::FormatExists);

    // A size that runs past the end is refused; a chunk that is there goes whole.
    CRiffFile deletion(junk.c_str());
    EXPECT_EQ(deletion.DeleteChunk("JUNK"), !c.junkDeleted.empty());
    EXPECT_EQ(readFile(junk), c.junkDeleted.empty() ? c.file : c.junkDeleted);
}

INSTANTIATE_TEST_SUITE_P(Files, HostileInput, ::testing::ValuesIn(HostileCases()),
                         [](const auto& info) { return info.param.name; });
