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
    Outcome outcome = Outcome::NoData;       // what the repair of a copy does
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
    constexpr auto W = Outcome::Written, F = Outcome::FormatExists, I = Outcome::Inserted;
    const Bytes lost = riff({kBext, kRemains, kData}), junk = chunk("JUNK", {}), odd = {1, 2, 3};
    const auto withFmt = [](const Bytes& fmt) { return riff({fmt, kBext, kData}); };
    Bytes many, rifx = lost; // bext at 12, the remains at 622, data at 646
    for (int i = 1; i < 5000; ++i)
        many = cat({many, junk});
    std::copy_n("RIFX", 4, rifx.begin());
    std::vector<HostileCase> cases = {
        // A header cut short is no chunk: no audio, nothing to repair.
        {"DataHeaderCutAfterItsIdentifier", cat({riff({kBext}), ascii("data"), {9, 0}})},
        {"HeaderCutInsideItsIdentifier", cat({riff({kBext}), ascii("da")})},
        // A size that runs past the end is a hole; the walk resumes at the next header.
        {"JunkSizePastTheEnd", riff({chunkDeclared("JUNK", 5000, {}), kBext, kRemains})},
        {"BextSizePastTheEnd", riff({chunkDeclared("bext", 5000, bextBody(0))}), 0, 0,
         Outcome::NoBext},
        // Zero sizes are stepped over, thousands of them quickly; only the first JUNK goes.
        {"ZeroSizeJunkBeforeBext", riff({junk, kBext, kRemains, kData}), 654, 60, W, kFirst, false,
         riff({kBext, kRemains, kData})},
        {"FiveThousandZeroSizeChunks", riff({junk, many, kBext, kRemains, kData}), 40646, 60, W,
         kFirst, false, riff({many, kBext, kRemains, kData})},
        // Odd sizes: a pad byte where one stands, none where the writer left it out; a
        // deleted chunk takes its pad byte along.
        {"OddJunkWithoutPadByte", riff({chunk("JUNK", odd), kBext, kRemains, kData}), 657, 60, W,
         kFirst, false, riff({kBext, kRemains, kData})},
        {"OddJunkWithAPadByte", riff({chunk("JUNK", odd, true), kBext, kRemains, kData}), 658, 60,
         W, kFirst, false, riff({kBext, kRemains, kData})},
        // fmt chunks: the fields come from the bytes the chunk holds; one cut off, or too
        // short for the format, is remains.
        {"FmtCutByTheEndOfTheFile",
         cat({riff({kBext, kData}), ascii("fmt "), le32(16), le16(1), le16(2)}), 622, 60, I},
        {"TwoFmtChunksTheFirstCounts",
         riff({FmtOfSize(16), chunk("fmt ", fmtPcm(2, 44100, 16)), kData}), 60, 60, F, kPcm48k24},
        {"FmtAfterData", riff({kBext, kData, FmtOfSize(16)}), 622, 60, F, kPcm48k24},
        // bext short, and twice.
        {"BextShorterThan602", riff({chunk("bext", bextBody(0, 0, 64)), kRemains, kData}), 108, 60,
         W},
        {"BextTwiceTheFirstCounts", riff({kBext, kRemains, chunk("bext", bextBody(7)), kData}),
         1256, 60, W},
        // A file that does not begin with RIFF is flagged and walked, but not repaired.
        {"NotRiff", rifx, 646, 60, Outcome::NotRiff, kFirst, true},
    };
    const Bytes header = cat({ascii("RIFF"), le32(4), ascii("WAVE")});
    for (std::size_t n = 0; n < 12; ++n) // the RIFF header cut anywhere
        cases.push_back({"Only" + std::to_string(n) + "Bytes",
                         Bytes(header.begin(), header.begin() + n), 0, 0, Outcome::NotRiff, kFirst,
                         n < 4});
    // The RIFF size is not trusted: the walk goes by the file's length.
    for (const uint32_t size : {0u, 4u, 100000u, 0xFFFFFFFFu})
    {
        cases.push_back({"RiffSize" + std::to_string(size), lost, 646, 60, W});
        putLe32(cases.back().file, 4, size);
    }
    for (uint32_t size = 0xFFFFFFF7u; size != 0; ++size)
    {
        const std::string n = std::to_string(size);
        cases.push_back({"JunkSize" + n, riff({chunkDeclared("JUNK", size, {}), kBext, kRemains})});
        cases.push_back(
            {"BextSize" + n, riff({chunkDeclared("bext", size, {})}), 0, 0, Outcome::NoBext});
        // An unfinished data size stops at the fmt chunk that ends the file; a file
        // with its format chunk behind the audio is left as it is.
        cases.push_back({"DataSize" + n,
                         riff({kBext, kRemains, chunkDeclared("data", size, kPcm), FmtOfSize(16)}),
                         646, size, F, kPcm48k24});
    }
    // A 14-byte body states its format without the bits field: it is mended, not remains.
    for (const uint32_t size : {0u, 14u, 16u, 18u, 40u, 65536u})
        cases.push_back({"Fmt" + std::to_string(size), withFmt(FmtOfSize(size)), 630 + size, 60,
                         size == 14  ? Outcome::Mended
                         : size < 16 ? W
                                     : F,
                         size < 16 ? kFirst : kPcm48k24});
    // What fuzzing found: a walk that stood still behind the audio, sizes near 2^64 that
    // wrapped, and repairs that ended in a file their own check refused.
    cases.push_back({"FormatChunkTooShortBehindTheAudio",
                     riff({kBext, kRemains, kData, chunk("fmt ", Bytes(4, 0))}), 646, 60, W});
    Bytes garbage = riff(
        {chunk("fmt ", cat({le16(1), le16(1), le32(48000), le32(96000), le16(0xFFFF), le16(16)})),
         kBext, kData});
    putLe32(garbage, 4, 0);
    cases.push_back({"RiffSizeUnfinishedButNoWholeFrames", garbage, 646, 60,
                     Outcome::NotWholeFrames, Format{1, 1, 48000, 96000, 0xFFFF, 16}});
    cases.push_back({"TwoFormatChunksAndADataSizeUnfinished",
                     riff({FmtOfSize(16), FmtOfSize(16), kBext, chunkDeclared("data", 0, kPcm)}),
                     670, 0, F, kPcm48k24});
    cases.push_back({"DamagedFormatChunkThenALiveOneAndADataSizeUnfinished",
                     riff({chunkDeclared("fmt ", 0x03000010, fmtPcm(1, 48000, 24)), kBext,
                           FmtOfSize(16), chunkDeclared("data", 0, kPcm)}),
                     670, 0, F, kPcm48k24});
    cases.push_back({"Rf64DataSizeNearTwoToThe64",
                     cat({ascii("RF64"), le32(0xFFFFFFFF), ascii("WAVEds64"), le32(28), le32(710),
                          le32(0), le32(0xFFFFFFF0), le32(0xFFFFFFFF), Bytes(12, 0), kBext,
                          ascii("data"), le32(0xFFFFFFFF), kPcm}),
                     658, 0xFFFFFFFFFFFFFFF0, I});
    // Zero fields do not make a fmt chunk lost: the repair leaves it.
    cases.push_back({"ZeroFields", withFmt(chunk("fmt ", cat({le16(1), Bytes(14, 0)}))), 646, 60, F,
                     Format{1, 0, 0, 0, 0, 0}});
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

    // Repaired as 8-bit mono, so that any audio is whole frames: every file either
    // stays byte for byte or passes the repair's check with its audio kept.
    KorvaWavFile repair;
    repair.SetPath(copy.c_str(), true);
    WavFormat format;
    format.nBitsPerSample = 8;
    EXPECT_EQ(repair.RepairFMTChunk(format),
              c.outcome == Outcome::Written || c.outcome == Outcome::Inserted ||
                  c.outcome == Outcome::Mended || c.outcome == Outcome::NoBext);
    EXPECT_EQ(repair.GetRepairOutcome(), c.outcome) << repair.GetCheckProblem();
    EXPECT_FALSE(repair.m_bFileOpen);
    const Bytes after = readFile(copy);
    const RepairPlan& plan = repair.GetRepairPlan();
    if (!plan.Changes())
        EXPECT_EQ(after, c.file) << "a file left alone was changed";
    else
    {
        EXPECT_EQ(after.size(), plan.nLength);
        const auto nAudio = static_cast<std::ptrdiff_t>(
            std::min<uint64_t>(c.dataLength, c.file.size() - c.dataOffset - 8));
        const auto audio = c.file.begin() + static_cast<std::ptrdiff_t>(c.dataOffset + 8);
        const auto audioAfter =
            after.begin() +
            static_cast<std::ptrdiff_t>(after.size() - c.file.size() + c.dataOffset + 8);
        EXPECT_TRUE(std::equal(audio, audio + nAudio, audioAfter)) << "the audio moved or changed";
    }

    // A size that runs past the end is refused; a chunk that is there goes whole.
    CRiffFile deletion(junk.c_str());
    EXPECT_EQ(deletion.DeleteChunk("JUNK"), !c.junkDeleted.empty());
    EXPECT_EQ(readFile(junk), c.junkDeleted.empty() ? c.file : c.junkDeleted);
}

INSTANTIATE_TEST_SUITE_P(Files, HostileInput, ::testing::ValuesIn(HostileCases()),
                         [](const auto& info) { return info.param.name; });
