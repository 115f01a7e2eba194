#include <gtest/gtest.h>

#include <sndfile.h>
#include <string>
#include <vector>

#include "KorvaWav.h"
#include "TempDir.h"
#include "TraceCapture.h"
#include "WavBuilder.h"

using namespace fixture;
using Outcome = KorvaWavFile::RepairOutcome;

namespace
{
// The rates and depths a user can choose.
constexpr uint32_t kRates[] = {44100, 48000, 88200, 96000, 128000};
constexpr uint16_t kDepths[] = {16, 24};

struct RepairResult
{
    bool result;
    Outcome outcome;
    Bytes after;
};

// Decodes a file through libsndfile into 32-bit integers.
std::vector<int> Decode(const std::string& path, SF_INFO& info)
{
    info = {};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    if (sf == nullptr)
        return {};
    std::vector<int> out(static_cast<std::size_t>(info.frames * info.channels));
    sf_read_int(sf, out.data(), static_cast<sf_count_t>(out.size()));
    sf_close(sf);
    return out;
}
} // namespace

class Repair : public ::testing::Test
{
protected:
    TempDir dir;
    TraceCapture trace;
    std::string path = (dir / "copy.wav").string();

    RepairResult run(const Bytes& file, uint32_t rate = 48000, uint16_t bits = 24)
    {
        writeFile(path, file);
        KorvaWavFile wav;
        wav.SetPath(path.c_str(), true);
        const bool result = wav.RepairFMTChunk(rate, bits);
        EXPECT_FALSE(wav.m_bFileOpen);
        return {result, wav.GetRepairOutcome(), readFile(path)};
    }
};

TEST_F(Repair, ZeroedFormatChunkComesBackByteIdenticalForEveryRateAndDepth)
{
    for (uint32_t rate : kRates)
        for (uint16_t bits : kDepths)
        {
            const Bytes original = riff({chunk("bext", bextBody(12345)), fmtChunkMono(rate, bits),
                                         chunk("data", samples(bits / 8 * 100, rate))});
            Bytes damaged = original;
            std::fill(damaged.begin() + 12 + 610, damaged.begin() + 12 + 610 + 24, 0);

            const RepairResult r = run(damaged, rate, bits);
            EXPECT_TRUE(r.result);
            EXPECT_EQ(r.outcome, Outcome::Written);
            EXPECT_EQ(r.after, original) << rate << " Hz, " << bits << " bit";
        }
}

TEST_F(Repair, WritesTheExactTwentyFourBytes)
{
    struct Case
    {
        uint32_t rate;
        uint16_t bits;
        Bytes expected;
    } cases[] = {
        {48000, 24, {0x66, 0x6D, 0x74, 0x20, 0x10, 0,    0,    0, 1, 0, 1,    0,
                     0x80, 0xBB, 0,    0,    0x80, 0x32, 0x02, 0, 3, 0, 0x18, 0}},
        {44100, 16, {0x66, 0x6D, 0x74, 0x20, 0x10, 0,    0,    0, 1, 0, 1,    0,
                     0x44, 0xAC, 0,    0,    0x88, 0x58, 0x01, 0, 2, 0, 0x10, 0}},
        {44100, 8,
         cat({ascii("fmt "), le32(16), le16(1), le16(1), le32(44100), le32(132300), le16(3),
              le16(8)})},
        {96000, 32,
         cat({ascii("fmt "), le32(16), le16(1), le16(1), le32(96000), le32(288000), le16(3),
              le16(32)})},
    };
    for (const Case& c : cases)
    {
        const Bytes damaged =
            riff({chunk("bext", bextBody(0)), Bytes(24, 0), chunk("data", samples(6))});
        const RepairResult r = run(damaged, c.rate, c.bits);
        ASSERT_TRUE(r.result);
        EXPECT_EQ(Bytes(r.after.begin() + 622, r.after.begin() + 646), c.expected)
            << c.rate << "/" << c.bits;
        EXPECT_EQ(readLe32(r.after, 4), readLe32(damaged, 4)) << "the RIFF size is left as it was";
    }
}

TEST_F(Repair, FilesWithAFormatChunkOrWithoutBextAreLeftAlone)
{
    struct Case
    {
        const char* name;
        Bytes file;
        bool result;
        Outcome outcome;
        bool line;
    } cases[] = {
        {"fmt first", bwf(48000, 24, samples(30)), false, Outcome::FormatExists, true},
        {"fmt last",
         riff({chunk("bext", bextBody(0)), chunk("data", samples(6)),
               chunk("fmt ", fmtPcm(1, 48000, 16))}),
         false, Outcome::FormatExists, true},
        {"no bext", riff({Bytes(24, 0), chunk("data", samples(6))}), true, Outcome::NoBext, false},
        {"not RIFF", ascii("just some text that is not audio"), true, Outcome::NoBext, false},
        {"bext cut off", riff({chunkDeclared("bext", 602, Bytes(100, 0))}), false,
         Outcome::BextUnreadable, false},
    };
    for (const Case& c : cases)
    {
        const std::size_t before = trace.lines().size();
        const RepairResult r = run(c.file);
        EXPECT_EQ(r.result, c.result) << c.name;
        EXPECT_EQ(r.outcome, c.outcome) << c.name;
        EXPECT_EQ(r.after, c.file) << c.name;
        const auto lines = trace.lines();
        const bool printed = std::find(lines.begin() + static_cast<long>(before), lines.end(),
                                       "FMT Chunk Exists - return") != lines.end();
        EXPECT_EQ(printed, c.line) << c.name;
    }
}

TEST_F(Repair, MissingFileCannotBeOpened)
{
    KorvaWavFile wav;
    wav.SetPath((dir / "gone.wav").c_str(), true);
    EXPECT_FALSE(wav.RepairFMTChunk(48000, 24));
    EXPECT_EQ(wav.GetRepairOutcome(), Outcome::OpenFailed);
}

// bext with an odd size: the chunk goes straight behind its last byte, no pad.
// bext at the end of the file: the file grows by the 24 bytes.
TEST_F(Repair, OverwriteLandsRightBehindTheDeclaredBody)
{
    const Bytes odd = riff({chunk("bext", bextBody(0, 0, 603)), Bytes(24, 0)});
    RepairResult r = run(odd, 44100, 16);
    EXPECT_EQ(r.outcome, Outcome::Written);
    EXPECT_EQ(Bytes(r.after.begin() + 623, r.after.end()), fmtChunkMono(44100, 16));

    const Bytes last = riff({chunk("bext", bextBody(0))});
    r = run(last, 44100, 16);
    EXPECT_EQ(r.outcome, Outcome::Written);
    EXPECT_EQ(r.after.size(), last.size() + 24);
    EXPECT_EQ(Bytes(r.after.begin() + 622, r.after.end()), fmtChunkMono(44100, 16));
}

// Behind an odd-sized bext, a writer that pads chunks leaves a zero byte: the
// lost chunk stood behind it, and a live chunk behind it must survive too.
TEST_F(Repair, PadByteBehindAnOddBextIsKept)
{
    const Bytes bext = chunk("bext", bextBody(0, 0, 603)); // ends at 623, odd
    const Bytes pcm = samples(40, 3);
    struct Case
    {
        const char* name;
        Bytes damaged;
        Bytes expected;
        Outcome outcome;
    } cases[] = {
        {"remains without a pad byte", riff({bext, Bytes(24, 0), chunk("data", pcm)}),
         riff({bext, fmtChunkMono(48000, 16), chunk("data", pcm)}), Outcome::Written},
        {"pad byte, then remains", riff({bext, Bytes(25, 0), chunk("data", pcm)}),
         riff({bext, Bytes(1, 0), fmtChunkMono(48000, 16), chunk("data", pcm)}), Outcome::Written},
        {"pad byte, then data", riff({bext, Bytes(1, 0), chunk("data", pcm)}),
         riff({bext, Bytes(1, 0), fmtChunkMono(48000, 16), chunk("data", pcm)}), Outcome::Inserted},
    };
    for (const Case& c : cases)
    {
        const RepairResult r = run(c.damaged, 48000, 16);
        EXPECT_TRUE(r.result) << c.name;
        EXPECT_EQ(r.outcome, c.outcome) << c.name;
        EXPECT_EQ(r.after, c.expected) << c.name;
        // libsndfile reads chunks at even offsets only, as RIFF asks: it decodes
        // the padded layouts.
        if (c.expected.size() % 2 == 1)
            continue;
        SF_INFO info;
        EXPECT_EQ(Decode(path, info).size(), pcm.size() / 2) << c.name;
    }
}

// A live chunk behind bext survives: the rest of the file moves up 24 bytes.
TEST_F(Repair, LiveChunkBehindBextIsKeptAndTheFileDecodes)
{
    for (std::size_t dataBytes : {std::size_t{6}, std::size_t{1'000'002}})
        for (const char* live : {"data", "JUNK"})
        {
            const Bytes pcm = samples(dataBytes, 7);
            const Bytes body =
                std::string(live) == "data" ? Bytes{} : chunk("JUNK", Bytes(14, 0xEE));
            const Bytes damaged =
                std::string(live) == "data"
                    ? riff({chunk("bext", bextBody(0)), chunk("data", pcm)})
                    : riff({chunk("bext", bextBody(0)), body, chunk("data", pcm)});
            const RepairResult r = run(damaged, 48000, 16);
            EXPECT_TRUE(r.result);
            ASSERT_EQ(r.outcome, Outcome::Inserted) << live;
            const Bytes expected =
                cat({Bytes(damaged.begin(), damaged.begin() + 622), fmtChunkMono(48000, 16),
                     Bytes(damaged.begin() + 622, damaged.end())});
            Bytes expectedSized = expected;
            putLe32(expectedSized, 4, readLe32(damaged, 4) + 24);
            EXPECT_EQ(r.after, expectedSized) << live << " " << dataBytes;

            SF_INFO info;
            const std::vector<int> decoded = Decode(path, info);
            ASSERT_EQ(info.frames, static_cast<sf_count_t>(dataBytes / 2)) << live;
            EXPECT_EQ(info.channels, 1);
            EXPECT_EQ(info.samplerate, 48000);
            // libsndfile scales 16-bit samples into the top of an int.
            EXPECT_EQ(decoded.front() >> 16, static_cast<int16_t>(pcm[0] | pcm[1] << 8));
            EXPECT_EQ(decoded.back() >> 16,
                      static_cast<int16_t>(pcm[dataBytes - 2] | pcm[dataBytes - 1] << 8));
        }
}

// A file repaired at its true rate and depth decodes to the original samples.
TEST_F(Repair, RepairedFilesDecodeToTheOriginalSamples)
{
    for (uint16_t bits : kDepths)
    {
        const Bytes pcm = samples(bits / 8 * 4801, bits);
        const Bytes original =
            riff({chunk("bext", bextBody(0)), fmtChunkMono(96000, bits), chunk("data", pcm, true)});
        writeFile(dir / "original.wav", original);
        Bytes damaged = original;
        std::fill(damaged.begin() + 622, damaged.begin() + 646, 0);
        run(damaged, 96000, bits);

        SF_INFO a;
        SF_INFO b;
        const std::vector<int> want = Decode((dir / "original.wav").string(), a);
        const std::vector<int> got = Decode(path, b);
        ASSERT_EQ(b.frames, 4801);
        EXPECT_EQ(b.samplerate, 96000);
        EXPECT_EQ(got, want);
    }
}
