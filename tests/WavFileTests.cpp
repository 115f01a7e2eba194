#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "KorvaWav.h"
#include "TempDir.h"
#include "TraceCapture.h"
#include "WavBuilder.h"

using namespace fixture;
using Outcome = KorvaWavFile::RepairOutcome;

// Path, stream, properties and repair. Cut, lying and repeated chunks, files with a
// fmt chunk or without bext: the hostile-input table; every layout of the repair's
// table: korva-cli's, which repairs a copy and compares it byte for byte.
class AudioFile : public ::testing::Test
{
protected:
    TempDir dir;
    TraceCapture trace;
    std::string path = (dir / "copy.wav").string();

    std::string write(const std::string& name, const Bytes& bytes = {1, 2, 3, 4, 5})
    {
        writeFile(dir / name, bytes);
        return (dir / name).string();
    }
};
using Repair = AudioFile;

// Open measures the file and takes one stream at a time; the destructor flushes it.
// SetPath keeps the same path's stream and refuses paths of 3000 bytes.
TEST_F(AudioFile, OpenAndSetPathKeepOneStreamAndRefuseWhatTheyCannotHold)
{
    EXPECT_FALSE(CAudioFile().Open("r")) << "no path yet";
    {
        KorvaWavFile file((dir / "missing.wav").c_str());
        EXPECT_FALSE(file.Open("r"));
        EXPECT_FALSE(file.RepairFMTChunk(48000, 24));
        EXPECT_EQ(file.GetRepairOutcome(), Outcome::OpenFailed);
        for (std::size_t size : {0u, 1u, 4097u})
        {
            ASSERT_TRUE(file.SetPath(write(std::to_string(size), Bytes(size, 7)).c_str(), true));
            ASSERT_TRUE(file.Open("r+")) << "a new path closed the stream";
            EXPECT_FALSE(file.Open("r")) << "a second Open on an open stream is refused";
            EXPECT_EQ(file.GetLength(), size);
            EXPECT_EQ(ftello(file.m_pFile), static_cast<off_t>(size));
        }
        EXPECT_FALSE(file.FileExists()) << "a missing file is remembered for good";
        fputc(0x5A, file.m_pFile);
    }
    EXPECT_EQ(readFile(dir / "4097"), cat({Bytes(4097, 7), {0x5A}}));

    const std::string a = write("a.wav"), fits(2999, 'x'), tooLong(3000, 'x');
    CAudioFile file(a.c_str());
    ASSERT_TRUE(file.Open("r"));
    EXPECT_TRUE(file.SetPath(a.c_str(), false));
    EXPECT_TRUE(file.m_bFileOpen);
    EXPECT_FALSE(file.m_bIntelByteOrder) << "the flag follows every call";
    EXPECT_FALSE(file.SetPath(tooLong.c_str(), true));
    EXPECT_EQ(file.m_pszPath.get(), a);
    EXPECT_FALSE(file.m_bIntelByteOrder) << "a refused call changes nothing";
    EXPECT_TRUE(file.m_bFileOpen);
    EXPECT_TRUE(file.Close());
    EXPECT_FALSE(file.Close());
    EXPECT_TRUE(file.SetPath(fits.c_str(), true));
    EXPECT_EQ(file.m_pszPath.get(), fits);

    CAudioFile constructed(tooLong.c_str());
    EXPECT_FALSE(constructed.m_bPathSet);
    EXPECT_STREQ(constructed.m_pszPath.get(), "");
}

// Read with the byte-order flag false, every value is swapped: a big-endian file reads right.
TEST_F(AudioFile, SixTracedWalksRecordEveryChunkTheReaderKnowsWhereverItStands)
{
    const std::string file =
        write("f.wav", riff({chunk("fmt ", cat({fmtPcm(2, 96000, 24), Bytes(24, 0)})),
                             chunk("regn", cat({le32(0), le32(7)})), chunk("cue ", le32(0)),
                             chunk("AFJx", {1, 2, 3}), chunk("data", samples(9))}));
    const CWavFile wav(file.c_str());
    // Tag, channels, rate, bytes per second, block align, bits; regn, cue, AFJx and data.
    EXPECT_EQ((std::vector<uint64_t>{wav.m_nFormatTag, wav.m_nChannels, wav.m_nSampleRate,
                                     wav.m_nBytesPerSec, wav.m_nBlockAlign, wav.m_nBitsPerSample,
                                     wav.m_nRegnOffset, wav.m_nCueOffset, wav.m_nAfjxOffset,
                                     wav.m_nDataOffset, wav.GetDataLength()}),
              (std::vector<uint64_t>{1, 2, 96000, 576000, 6, 24, 60, 76, 88, 99, 9}));
    EXPECT_TRUE(wav.m_bHasCue && wav.m_bHasAfjx);
    EXPECT_FALSE(wav.m_bFileOpen);

    std::vector<std::string> searched;
    std::istringstream traced(trace.text());
    for (std::string line; std::getline(traced, line);)
        if (line.rfind("pszChunk = ", 0) == 0)
            searched.push_back(line.substr(11));
    EXPECT_EQ(searched, (std::vector<std::string>{"fmt ", "bext", "regn", "data", "cue ", "AFJx"}));

    // The same file with every number stored big-endian, read with the flag false.
    const auto be = [](Bytes b) { return Bytes(b.rbegin(), b.rend()); };
    const auto beChunk = [&](const char* id, const Bytes& body) {
        return cat({ascii(id), be(le32(static_cast<uint32_t>(body.size()))), body});
    };
    const std::string bigEndian =
        write("be.wav", cat({ascii("RIFF"), be(le32(4 + 24 + 17)), ascii("WAVE"),
                             beChunk("fmt ", cat({be(le16(1)), be(le16(2)), be(le32(96000)),
                                                  be(le32(576000)), be(le16(6)), be(le16(24))})),
                             beChunk("data", samples(9)), Bytes{0}}));
    KorvaWavFile swapped; // its SetPath reads the properties with the flag given
    swapped.SetPath(bigEndian.c_str(), false);
    EXPECT_EQ(
        (std::vector<uint64_t>{swapped.m_nSampleRate, swapped.m_nChannels, swapped.m_nBlockAlign,
                               swapped.m_nDataOffset, swapped.GetDataLength()}),
        (std::vector<uint64_t>{96000, 2, 6, 36, 9}));
}

// A repair whose writes the file size limit stops (the copy grows by its insert):
// false, and the outcome says the writes failed, not that the chunk was written.
TEST_F(Repair, AWriteThatFailsFailsTheRepair)
{
    const Bytes file = riff({chunk("bext", bextBody(0)), chunk("data", samples(4000))});
    writeFile(path, file);
    KorvaWavFile wav;
    wav.SetPath(path.c_str(), true);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const rlimit low{file.size(), old.rlim_max};
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &low);
    const bool bRepaired = wav.RepairFMTChunk(48000, 16);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);
    EXPECT_FALSE(bRepaired);
    EXPECT_EQ(wav.GetRepairOutcome(), Outcome::IoFailed);
    EXPECT_FALSE(wav.m_bFileOpen);
}

// The repair traces its searches as SearchForChunk does: for the format chunk, and for
// bext where there is none (a damaged format chunk is none yet).
TEST_F(Repair, TracesItsSearchesForTheFormatChunkAndForBext)
{
    const Bytes bext = chunk("bext", bextBody(0)), data = chunk("data", samples(60));
    Bytes damaged = fmtChunkMono(48000, 24);
    putLe32(damaged, 4, 0);
    const std::string search = "In CRiffFile::SearchForChunk\npszChunk = ";
    const std::pair<Bytes, std::string> cases[] = {
        {riff({fmtChunkMono(48000, 24), bext, data}),
         search + "fmt \n** Chunk = fmt \n   --- Found at: 12\nFMT Chunk Exists - return\n"},
        {riff({bext, damaged, data}), search +
                                          "fmt \n** Chunk = bext\n** Chunk = fmt \n** Chunk = "
                                          "data\n" +
                                          search + "bext\n** Chunk = bext\n   --- Found at: 12\n"},
    };
    for (const auto& [file, expected] : cases)
    {
        writeFile(path, file);
        KorvaWavFile wav;
        wav.SetPath(path.c_str(), true);
        const std::size_t nBefore = trace.text().size();
        wav.RepairFMTChunk(48000, 24);
        EXPECT_EQ(trace.text().substr(nBefore), expected);
    }
}
