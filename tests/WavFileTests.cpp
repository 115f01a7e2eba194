#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sndfile.h>
#include <string>
#include <tuple>
#include <vector>

#include "KorvaWav.h"
#include "TempDir.h"
#include "TraceCapture.h"
#include "WavBuilder.h"

using namespace fixture;
using Outcome = KorvaWavFile::RepairOutcome;

// Path, stream, properties and repair. Cut, lying and repeated chunks, files with a
// fmt chunk or without bext: the hostile-input table.
class AudioFile : public ::testing::Test
{
protected:
    TempDir dir;
    TraceCapture trace;
    std::string path = (dir / "copy.wav").string();
    bool result = false;
    Outcome outcome = Outcome::NotRun;

    std::string write(const std::string& name, const Bytes& bytes = {1, 2, 3, 4, 5})
    {
        writeFile(dir / name, bytes);
        return (dir / name).string();
    }
    // Repairs a copy of the file; the copy's bytes afterwards.
    Bytes run(const Bytes& file, uint32_t rate, uint16_t bits)
    {
        KorvaWavFile wav;
        wav.SetPath(write("copy.wav", file).c_str(), true);
        result = wav.RepairFMTChunk(rate, bits);
        outcome = wav.GetRepairOutcome();
        EXPECT_FALSE(wav.m_bFileOpen);
        return readFile(path);
    }
    // What libsndfile reads from a file, as 16-bit samples.
    static std::vector<short> decode(const std::string& file, SF_INFO& info)
    {
        SNDFILE* sf = sf_open(file.c_str(), SFM_READ, &(info = {}));
        std::vector<short> out(sf ? info.frames * info.channels : 0);
        out.resize(sf ? sf_read_short(sf, out.data(), static_cast<sf_count_t>(out.size())) : 0);
        sf_close(sf);
        return out;
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

// Read with the byte-order flag false, every value is swapped.
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
    for (const std::string& line : trace.lines())
        if (line.rfind("pszChunk = ", 0) == 0)
            searched.push_back(line.substr(11));
    EXPECT_EQ(searched, (std::vector<std::string>{"fmt ", "bext", "regn", "data", "cue ", "AFJx"}));

    KorvaWavFile swapped; // its SetPath reads the properties with the flag given
    swapped.SetPath(file.c_str(), false);
    EXPECT_EQ(swapped.m_nSampleRate, 0x00770100u) << "00 77 01 00 read big-endian";
    EXPECT_EQ(swapped.m_nChannels, 0x0200);
    EXPECT_EQ(swapped.m_nDataOffset, 0u) << "the fmt size read swapped runs past the end";
}

// Files nobody here wrote, read against libsndfile.
TEST_F(AudioFile, AlsaSoundsReadAsLibsndfileReportsThem)
{
    const std::filesystem::path folder = "/usr/share/sounds/alsa";
    if (!std::filesystem::exists(folder))
        GTEST_SKIP() << "alsa-utils sounds are not installed";
    ASSERT_FALSE(std::filesystem::is_empty(folder));
    for (const auto& entry : std::filesystem::directory_iterator(folder))
    {
        SCOPED_TRACE(entry.path());
        SF_INFO info;
        ASSERT_FALSE(decode(entry.path(), info).empty());
        const CWavFile wav(entry.path().c_str());
        EXPECT_EQ(wav.m_nChannels, info.channels);
        EXPECT_EQ(wav.m_nSampleRate, static_cast<uint32_t>(info.samplerate));
        EXPECT_EQ((info.format & SF_FORMAT_SUBMASK), SF_FORMAT_PCM_16);
        EXPECT_EQ(wav.m_nBitsPerSample, 16);
        EXPECT_EQ(wav.GetDataLength() / wav.m_nBlockAlign, static_cast<uint64_t>(info.frames));
    }
}

// Every rate and depth a user can choose, and 8 and 32 bits (block align 3): the zeroed
// fmt chunk comes back byte for byte, from the field values a reader must find (rate,
// bits, bytes per second, block align), and the file decodes wherever those agree.
TEST_F(Repair, ZeroedFormatChunkComesBackByteIdenticalForEveryRateAndDepth)
{
    using Row = std::tuple<uint32_t, uint16_t, uint32_t, uint16_t>;
    const Row cases[] = {{44100, 16, 88200, 2},   {48000, 16, 96000, 2},   {88200, 16, 176400, 2},
                         {96000, 16, 192000, 2},  {128000, 16, 256000, 2}, {44100, 24, 132300, 3},
                         {48000, 24, 144000, 3},  {88200, 24, 264600, 3},  {96000, 24, 288000, 3},
                         {128000, 24, 384000, 3}, {22050, 8, 66150, 3},    {96000, 32, 288000, 3}};
    for (const auto& [rate, bits, bytesPerSec, blockAlign] : cases)
    {
        SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(bits) + " bit");
        const Bytes original = riff({chunk("bext", bextBody(12345)),
                                     cat({ascii("fmt "), le32(16), le16(1), le16(1), le32(rate),
                                          le32(bytesPerSec), le16(blockAlign), le16(bits)}),
                                     chunk("data", samples(blockAlign * 101u, rate), true)});
        Bytes damaged = original;
        std::fill(damaged.begin() + 622, damaged.begin() + 646, 0);
        EXPECT_EQ(run(damaged, rate, bits), original);
        EXPECT_TRUE(result);
        EXPECT_EQ(outcome, Outcome::Written);
        if (bits != blockAlign * 8)
            continue;
        SF_INFO info;
        decode(path, info);
        EXPECT_EQ(info.frames, 101);
        EXPECT_EQ(info.samplerate, static_cast<int>(rate));
    }
}

// A live chunk behind bext survives: the rest of the file moves up 24 bytes and
// the RIFF size grows by 24. Behind an odd-sized bext, the zero pad byte a writer
// left stays and the new chunk goes behind it. The even-sized results decode.
TEST_F(Repair, LiveChunkOrPadByteBehindBextIsKeptAndTheFileDecodes)
{
    const Bytes bext = chunk("bext", bextBody(0)), odd = chunk("bext", bextBody(0, 0, 603));
    const Bytes fmt = fmtChunkMono(48000, 16), pad(1, 0), junk = chunk("JUNK", Bytes(14, 0xEE));
    const Bytes pcm = samples(40, 3), bigPcm = samples(1'000'002, 7);
    const Bytes data = chunk("data", pcm), big = chunk("data", bigPcm);
    const std::tuple<const char*, Bytes, Bytes, Outcome, const Bytes&> cases[] = {
        {"odd bext, pad, remains", riff({odd, Bytes(25, 0), data}), riff({odd, pad, fmt, data}),
         Outcome::Written, pcm},
        {"odd bext, pad, data", riff({odd, pad, data}), riff({odd, pad, fmt, data}),
         Outcome::Inserted, pcm},
        {"JUNK", riff({bext, junk, data}), riff({bext, fmt, junk, data}), Outcome::Inserted, pcm},
        {"a megabyte of data", riff({bext, big}), riff({bext, fmt, big}), Outcome::Inserted,
         bigPcm},
    };
    for (const auto& [name, damaged, expected, wantOutcome, samples] : cases)
    {
        SCOPED_TRACE(name);
        EXPECT_TRUE(run(damaged, 48000, 16) == expected);
        EXPECT_TRUE(result);
        EXPECT_EQ(outcome, wantOutcome);
        if (expected.size() % 2 == 1)
            continue;
        SF_INFO info;
        std::vector<short> want(samples.size() / 2);
        std::memcpy(want.data(), samples.data(), samples.size());
        EXPECT_TRUE(decode(path, info) == want);
        EXPECT_EQ(info.channels, 1);
        EXPECT_EQ(info.samplerate, 48000);
    }
}
