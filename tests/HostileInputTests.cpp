#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "KorvaWav.h"
#include "TempDir.h"
#include "TraceCapture.h"
#include "WavBuilder.h"

using namespace fixture;
using Outcome = KorvaWavFile::RepairOutcome;

// Hostile files: every case must end with the right result, within a deadline,
// with the file that was only read byte for byte as it was.
namespace
{
constexpr auto kDeadline = std::chrono::seconds(20);

// Runs fn on a thread of its own; a case still running at the deadline is a
// hang, and the run stops there with the case's name rather than never ending.
template <class Fn> auto WithinDeadline(const std::string& name, Fn fn)
{
    auto done = std::async(std::launch::async, fn);
    if (done.wait_for(kDeadline) != std::future_status::ready)
    {
        std::fprintf(stderr, "HANG: %s did not end within the deadline\n", name.c_str());
        std::_Exit(1);
    }
    return done.get();
}

struct Format
{
    uint16_t tag = 0, channels = 0;
    uint32_t rate = 0, bytesPerSec = 0;
    uint16_t blockAlign = 0, bits = 0;
    bool operator==(const Format&) const = default;
};

Format FormatOf(const CAudioFile& f)
{
    return {f.m_nFormatTag,   f.m_nChannels,   f.m_nSampleRate,
            f.m_nBytesPerSec, f.m_nBlockAlign, f.m_nBitsPerSample};
}

const Format kPcm48k24{1, 1, 48000, 144000, 3, 24};
const Bytes kPcm = samples(60, 7);
const Bytes kBext = chunk("bext", bextBody(42)); // 610 bytes
const Bytes kRemains(24, 0);                     // a wiped format chunk

struct HostileCase
{
    std::string name;
    Bytes file;
    // What the property reader finds.
    uint64_t dataOffset = 0;
    uint64_t dataLength = 0;
    Format format{};
    bool notRiff = false;
    // What the repair of a copy does, and where it puts the new chunk.
    Outcome outcome = Outcome::NoBext;
    uint64_t fmtAt = 0;
};

// A Broadcast Wave file that lost its format chunk: RIFF header, bext at 12,
// the remains at 622, data at 646.
Bytes LostFormat()
{
    return riff({kBext, kRemains, chunk("data", kPcm)});
}

Bytes WithRiffSize(Bytes file, uint32_t size)
{
    putLe32(file, 4, size);
    return file;
}

Bytes FmtOfSize(uint32_t size)
{
    Bytes body = fmtPcm(1, 48000, 24);
    body.resize(size, 0);
    return chunk("fmt ", body);
}

std::vector<HostileCase> HostileCases()
{
    std::vector<HostileCase> cases;
    // Files of 0 to 11 bytes: the RIFF header cut anywhere.
    const Bytes header = cat({ascii("RIFF"), le32(4), ascii("WAVE")});
    for (std::size_t n = 0; n < 12; ++n)
    {
        HostileCase c{"Only" + std::to_string(n) + "Bytes",
                      Bytes(header.begin(), header.begin() + n)};
        c.notRiff = n < 4;
        cases.push_back(c);
    }

    // The RIFF size is not trusted: the walk goes by the file's real length,
    // and the repair neither reads nor corrects it.
    for (const uint32_t size : {0u, 4u, 100000u, 0xFFFFFFFFu})
        cases.push_back({"RiffSize" + std::to_string(size),
                         WithRiffSize(LostFormat(), size),
                         646,
                         kPcm.size(),
                         {},
                         false,
                         Outcome::Written,
                         622});

    // A chunk header cut inside its 8 bytes: the identifier is found, its size
    // cannot be read, and the cut header behind bext is no live chunk.
    cases.push_back({"DataHeaderCutAfterItsIdentifier",
                     cat({riff({kBext}), ascii("data"), Bytes{9, 0}}),
                     622,
                     0,
                     {},
                     false,
                     Outcome::Written,
                     622});
    cases.push_back({"HeaderCutInsideItsIdentifier",
                     cat({riff({kBext}), ascii("da")}),
                     0,
                     0,
                     {},
                     false,
                     Outcome::Written,
                     622});

    // Sizes that run past the end end the walk: nothing behind is found.
    cases.push_back({"JunkSizePastTheEndHidesBext", riff({chunkDeclared("JUNK", 5000, {}), kBext,
                                                          kRemains, chunk("data", kPcm)})});
    cases.push_back({"BextSizePastTheEndIsRefused",
                     riff({chunkDeclared("bext", 5000, bextBody(0))}),
                     0,
                     0,
                     {},
                     false,
                     Outcome::BextUnreadable});
    for (uint32_t size = 0xFFFFFFF7u; size != 0; ++size)
    {
        const std::string hex = std::to_string(size);
        cases.push_back(
            {"JunkSize" + hex, riff({chunkDeclared("JUNK", size, {}), kBext, kRemains})});
        cases.push_back({"BextSize" + hex,
                         riff({chunkDeclared("bext", size, bextBody(0))}),
                         0,
                         0,
                         {},
                         false,
                         Outcome::BextUnreadable});
        // The data size is recorded as declared; nothing behind it is reachable.
        cases.push_back({"DataSize" + hex,
                         riff({kBext, kRemains, chunkDeclared("data", size, kPcm), FmtOfSize(16)}),
                         646,
                         size,
                         {},
                         false,
                         Outcome::Written,
                         622});
    }

    // Chunks of size 0 are stepped over, thousands of them quickly.
    cases.push_back({"ZeroSizeJunkBeforeBext",
                     riff({chunk("JUNK", {}), kBext, kRemains, chunk("data", kPcm)}),
                     654,
                     kPcm.size(),
                     {},
                     false,
                     Outcome::Written,
                     630});
    {
        Bytes many;
        for (int i = 0; i < 5000; ++i)
            many = cat({many, chunk("JUNK", {})});
        cases.push_back({"FiveThousandZeroSizeChunks",
                         riff({many, kBext, kRemains, chunk("data", kPcm)}),
                         40000 + 646,
                         kPcm.size(),
                         {},
                         false,
                         Outcome::Written,
                         40000 + 622});
    }

    // Odd sizes: only data is followed by a pad byte; bext is not.
    cases.push_back({"OddDataWithItsPadByte",
                     riff({kBext, kRemains, chunk("data", samples(61), true), chunk("cue ", {})}),
                     646,
                     61,
                     {},
                     false,
                     Outcome::Written,
                     622});
    cases.push_back({"OddDataWithoutPadByteEndingTheFile",
                     riff({kBext, kRemains, chunk("data", samples(61))}),
                     646,
                     61,
                     {},
                     false,
                     Outcome::Written,
                     622});
    cases.push_back({"OddBextGetsTheChunkAtAnOddOffset",
                     riff({chunk("bext", bextBody(1, 0, 603)), kRemains, chunk("data", kPcm)}),
                     647,
                     kPcm.size(),
                     {},
                     false,
                     Outcome::Written,
                     623});

    // fmt chunks of every size: the fields come from the bytes the chunk
    // holds, and the repair never touches a file that has one.
    const auto fmtFile = [](const Bytes& fmt) { return riff({fmt, kBext, chunk("data", kPcm)}); };
    const auto fmtCase = [&](std::string name, uint32_t size, Format format)
    {
        const Bytes fmt = FmtOfSize(size);
        return HostileCase{std::move(name),      fmtFile(fmt), 12 + fmt.size() + kBext.size(),
                           kPcm.size(),          format,       false,
                           Outcome::FormatExists};
    };
    cases.push_back(fmtCase("Fmt0", 0, {}));
    cases.push_back(fmtCase("Fmt14", 14, {1, 1, 48000, 144000, 3, 0}));
    cases.push_back(fmtCase("Fmt16", 16, kPcm48k24));
    cases.push_back(fmtCase("Fmt18", 18, kPcm48k24));
    cases.push_back(fmtCase("Fmt40", 40, kPcm48k24));
    cases.push_back(fmtCase("Fmt64KiB", 65536, kPcm48k24));
    cases.push_back(
        {"FmtCutByTheEndOfTheFile",
         cat({riff({kBext, chunk("data", kPcm)}), ascii("fmt "), le32(16), le16(1), le16(2)}),
         622,
         kPcm.size(),
         {1, 2, 0, 0, 0, 0},
         false,
         Outcome::FormatExists});
    for (const auto& [name, format] : std::vector<std::pair<std::string, Format>>{
             {"ZeroChannels", {1, 0, 48000, 144000, 3, 24}},
             {"ZeroBits", {1, 1, 48000, 144000, 3, 0}},
             {"ZeroRate", {1, 1, 0, 0, 3, 24}},
             {"ZeroBlockAlign", {1, 1, 48000, 144000, 0, 24}}})
    {
        const Bytes body =
            cat({le16(format.tag), le16(format.channels), le32(format.rate),
                 le32(format.bytesPerSec), le16(format.blockAlign), le16(format.bits)});
        cases.push_back({name, fmtFile(chunk("fmt ", body)), 12 + 24 + 610, kPcm.size(), format,
                         false, Outcome::FormatExists});
    }
    cases.push_back(
        {"TwoFmtChunksTheFirstCounts",
         riff({FmtOfSize(16), chunk("fmt ", fmtPcm(2, 44100, 16)), chunk("data", kPcm)}), 60,
         kPcm.size(), kPcm48k24, false, Outcome::FormatExists});
    cases.push_back({"FmtAfterData", riff({kBext, chunk("data", kPcm), FmtOfSize(16)}), 622,
                     kPcm.size(), kPcm48k24, false, Outcome::FormatExists});

    // bext: short, odd, last, twice.
    cases.push_back({"BextShorterThan602",
                     riff({chunk("bext", bextBody(0, 0, 64)), kRemains, chunk("data", kPcm)}),
                     108,
                     kPcm.size(),
                     {},
                     false,
                     Outcome::Written,
                     84});
    cases.push_back({"BextLastInTheFile",
                     riff({chunk("data", kPcm), kBext}),
                     12,
                     kPcm.size(),
                     {},
                     false,
                     Outcome::Written,
                     12 + 68 + 610});
    cases.push_back({"BextTwiceTheFirstCounts",
                     riff({kBext, kRemains, chunk("bext", bextBody(7)), chunk("data", kPcm)}),
                     646 + 610,
                     kPcm.size(),
                     {},
                     false,
                     Outcome::Written,
                     622});
    // A live chunk straight behind bext is moved up, not overwritten.
    cases.push_back({"DataStraightBehindBext",
                     riff({kBext, chunk("data", kPcm)}),
                     622,
                     kPcm.size(),
                     {},
                     false,
                     Outcome::Inserted,
                     622});
    // A file that does not begin with RIFF is flagged and walked all the same.
    Bytes rifx = LostFormat();
    std::copy_n("RIFX", 4, rifx.begin());
    cases.push_back({"NotRiff", rifx, 646, kPcm.size(), {}, true, Outcome::Written, 622});
    return cases;
}

// The file a repair should leave: the 24 bytes at `at`, written over what
// stood there or inserted with the RIFF size grown to match.
Bytes Repaired(const Bytes& before, const HostileCase& c)
{
    const Bytes fmt = fmtChunkMono(48000, 24);
    Bytes after = before;
    const auto at = static_cast<std::ptrdiff_t>(c.fmtAt);
    if (c.outcome == Outcome::Inserted)
    {
        after.insert(after.begin() + at, fmt.begin(), fmt.end());
        putLe32(after, 4, readLe32(before, 4) + 24);
    }
    else if (c.outcome == Outcome::Written)
    {
        after.resize(std::max(after.size(), c.fmtAt + fmt.size()));
        std::copy(fmt.begin(), fmt.end(), after.begin() + at);
    }
    return after;
}
} // namespace

class HostileInput : public ::testing::TestWithParam<HostileCase>
{
protected:
    TempDir dir;
    TraceCapture trace;
};

TEST_P(HostileInput, ReaderFindsWhatIsThereAndTheRepairEndsRight)
{
    const HostileCase& c = GetParam();
    const auto source = dir / "source.wav";
    const auto copy = dir / "copy.wav";
    writeFile(source, c.file);

    KorvaWavFile reader;
    WithinDeadline(c.name, [&] { return reader.SetPath(source.c_str(), true); });
    EXPECT_EQ(reader.m_bNotRiff, c.notRiff);
    EXPECT_EQ(reader.m_nDataOffset, c.dataOffset);
    EXPECT_EQ(reader.GetDataLength(), c.dataLength);
    EXPECT_TRUE(FormatOf(reader) == c.format);
    EXPECT_FALSE(reader.m_bFileOpen);
    EXPECT_EQ(readFile(source), c.file) << "the reader changed the file it read";

    std::filesystem::copy_file(source, copy);
    KorvaWavFile repair;
    const bool result = WithinDeadline(c.name,
                                       [&]
                                       {
                                           repair.SetPath(copy.c_str(), true);
                                           return repair.RepairFMTChunk(48000, 24);
                                       });
    EXPECT_EQ(repair.GetRepairOutcome(), c.outcome)
        << KorvaWavFile::DescribeOutcome(repair.GetRepairOutcome());
    const bool changes = c.outcome == Outcome::Written || c.outcome == Outcome::Inserted;
    EXPECT_EQ(result, changes || c.outcome == Outcome::NoBext);
    EXPECT_EQ(readFile(copy), Repaired(c.file, c)) << "the repair changed the wrong bytes";
    EXPECT_EQ(readFile(source), c.file);
}

INSTANTIATE_TEST_SUITE_P(Files, HostileInput, ::testing::ValuesIn(HostileCases()),
                         [](const auto& info) { return info.param.name; });

// Chunk deletion on hostile files: a chunk it cannot safely remove leaves the
// file as it was; one it removes takes exactly its header and declared size.
TEST(HostileDeletion, RefusesWhatItCannotRemoveAndRemovesOnlyTheChunk)
{
    struct Case
    {
        std::string name;
        Bytes file;
        const char* id;
        Bytes expected; // empty: refused, file unchanged
    };
    const Bytes tail = chunk("data", kPcm);
    std::vector<Case> cases;
    const Bytes whole = LostFormat();
    for (std::size_t n = 0; n < 12; ++n)
        cases.push_back({"Only" + std::to_string(n) + "Bytes",
                         Bytes(whole.begin(), whole.begin() + n),
                         "bext",
                         {}});
    for (const uint32_t size : {5000u, 0xFFFFFFF7u, 0xFFFFFFF8u, 0xFFFFFFFEu, 0xFFFFFFFFu})
        cases.push_back({"SizePastTheEnd" + std::to_string(size),
                         riff({chunkDeclared("JUNK", size, Bytes(8, 1)), tail}),
                         "JUNK",
                         {}});
    cases.push_back({"ZeroSize", riff({chunk("JUNK", {}), tail}), "JUNK", riff({tail})});
    // The pad byte is not the chunk's: it stays and now follows the header.
    cases.push_back({"OddSizeKeepsThePadByte", riff({chunk("JUNK", {1, 2, 3}, true), tail}), "JUNK",
                     riff({Bytes{0}, tail})});
    cases.push_back(
        {"OddSizeWithoutPadByte", riff({chunk("JUNK", {1, 2, 3}), tail}), "JUNK", riff({tail})});
    cases.push_back({"OnlyTheFirstOfTwo",
                     riff({chunk("bext", bextBody(1)), chunk("bext", bextBody(2)), tail}), "bext",
                     riff({chunk("bext", bextBody(2)), tail})});
    cases.push_back({"TheRiffHeaderIsNeverAChunk", riff({tail}), "RIFF", {}});

    TempDir dir;
    TraceCapture trace;
    for (const Case& c : cases)
    {
        const auto path = dir / "file.wav";
        writeFile(path, c.file);
        CRiffFile file;
        file.SetPath(path.c_str(), true);
        const bool deleted = WithinDeadline(c.name, [&] { return file.DeleteChunk(c.id); });
        EXPECT_EQ(deleted, !c.expected.empty()) << c.name;
        EXPECT_EQ(readFile(path), c.expected.empty() ? c.file : c.expected) << c.name;
        EXPECT_FALSE(file.m_bFileOpen) << c.name;
    }
}

// New files and appends with frame ranges that are empty, inverted or past the
// end, and sources whose format gives no whole frames: what is refused leaves
// no new file and an unchanged destination.
TEST(HostileFrameRange, EmptyInvertedAndPastTheEndRanges)
{
    struct Case
    {
        std::string name;
        Bytes source;
        uint32_t start, end;
        bool written;
    };
    const Bytes stereo16 = riff({chunk("fmt ", fmtPcm(2, 44100, 16)), chunk("data", samples(40))});
    const Bytes noAlign =
        riff({chunk("fmt ", cat({le16(1), le16(1), le32(8000), le32(8000), le16(0), le16(8)})),
              chunk("data", samples(40))});
    const std::vector<Case> cases = {
        {"Whole", stereo16, 0, 10, true},
        {"Empty", stereo16, 4, 4, true},
        {"EmptyAtTheEnd", stereo16, 10, 10, true},
        {"Inverted", stereo16, 6, 5, false},
        {"InvertedFromTheTop", stereo16, 0xFFFFFFFFu, 0, false},
        {"OneFramePastTheEnd", stereo16, 0, 11, false},
        {"StartPastTheEnd", stereo16, 11, 12, false},
        {"FramesOverflow32Bits", stereo16, 0, 0x40000001u, false},
        {"BlockAlignZero", noAlign, 0, 4, false},
        {"NoFmtChunk", riff({chunk("data", samples(40))}), 0, 1, false},
        {"NoDataChunk", riff({chunk("fmt ", fmtPcm(2, 44100, 16))}), 0, 0, false},
        {"NotAFile", {}, 0, 0, false},
    };
    TempDir dir;
    TraceCapture trace;
    for (const Case& c : cases)
    {
        const auto source = dir / "source.wav";
        const auto created = dir / "created.wav";
        const auto target = dir / "target.wav";
        writeFile(source, c.source);
        std::filesystem::remove(created);
        const Bytes existing =
            riff({chunk("fmt ", fmtPcm(2, 44100, 16)), chunk("data", {9, 9, 9, 9})});
        writeFile(target, existing);

        CWavFile wav(source.c_str());
        const bool createdOk = WithinDeadline(
            c.name, [&] { return wav.CreateNewFile(created.c_str(), c.start, c.end); });
        const bool appendedOk = WithinDeadline(
            c.name, [&] { return wav.AppendToFile(target.c_str(), c.start, c.end); });
        EXPECT_EQ(createdOk, c.written) << c.name;
        EXPECT_EQ(appendedOk, c.written) << c.name;
        EXPECT_EQ(readFile(source), c.source) << c.name;
        if (!c.written)
        {
            EXPECT_FALSE(std::filesystem::exists(created)) << c.name;
            EXPECT_EQ(readFile(target), existing) << c.name;
            continue;
        }
        const Bytes frames(c.source.begin() + 44 + 4 * c.start, c.source.begin() + 44 + 4 * c.end);
        EXPECT_EQ(readFile(created),
                  riff({chunk("fmt ", fmtPcm(2, 44100, 16)), chunk("data", frames)}))
            << c.name;
        EXPECT_EQ(readFile(target), riff({chunk("fmt ", fmtPcm(2, 44100, 16)),
                                          chunk("data", cat({Bytes{9, 9, 9, 9}, frames}))}))
            << c.name;
    }
}
