#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "TempDir.h"
#include "TraceCapture.h"
#include "WavBuilder.h"
#include "WavFile.h"

using namespace fixture;
namespace fs = std::filesystem;

namespace
{
constexpr std::size_t kBuffer = 614400; // the copy moves frames in blocks of this size
const Bytes kMono16 = chunk("fmt ", fmtPcm(1, 48000, 16));

class FrameCopy : public ::testing::Test
{
protected:
    TempDir dir;
    TraceCapture trace;
    std::string sourcePath = (dir / "source.wav").string();
    std::string destPath = (dir / "dest.wav").string();

    // Every file in the folder counts, leftovers as well as results.
    auto Files() const { return std::distance(fs::directory_iterator(dir.path()), {}); }
};

// A new file holds the format chunk and the frames; each append adds the frames again.
TEST_F(FrameCopy, CreateNewFileAndAppendToFileCopyTheFramesByteForByte)
{
    const std::tuple<const char*, Bytes, std::size_t, uint32_t, uint32_t, Bytes> cases[] = {
        {"EmptyRange", fmtPcm(1, 48000, 16), 100, 20, 20, {}},
        {"PartialTrailingFrameIsNotAFrame", fmtPcm(2, 48000, 16), 10, 0, 2, {}},
        {"OtherChunksStayBehind", fmtPcm(1, 48000, 16), 64, 4, 30,
         cat({chunk("bext", bextBody(99)), chunk("regn", le32(3))})},
        {"FortyByteFormatBody", cat({fmtPcm(2, 48000, 24), samples(24)}), 120, 3, 19, {}},
        {"OddFormatBodyGetsNoPadByte", cat({fmtPcm(1, 48000, 8), samples(1)}), 9, 2, 7, {}},
        {"ExactlyOneBuffer", fmtPcm(1, 48000, 16), kBuffer + 8, 0, kBuffer / 2, {}},
        {"WholeDataOfTwoBuffersAndMore", fmtPcm(1, 48000, 24), 2 * kBuffer + 123, 0, 409641, {}},
    };
    for (const auto& [name, fmtBody, nDataBytes, start, end, between] : cases)
    {
        SCOPED_TRACE(name);
        const Bytes pcm = samples(nDataBytes, 11);
        writeFile(sourcePath, riff({chunk("fmt ", fmtBody), between, chunk("data", pcm)}));
        writeFile(destPath, samples(5000, 3)); // replaced in full
        const std::size_t nAlign = readLe32(fmtBody, 12) & 0xFFFF;
        const Bytes frames(pcm.begin() + start * nAlign, pcm.begin() + end * nAlign);

        CWavFile wav(sourcePath.c_str());
        Bytes data;
        // A source the caller opened stays open; one the copy opened is closed again.
        ASSERT_TRUE(wav.Open("r"));
        for (const auto copy :
             {&CWavFile::CreateNewFile, &CWavFile::AppendToFile, &CWavFile::AppendToFile})
        {
            ASSERT_TRUE((wav.*copy)(destPath.c_str(), start, end));
            EXPECT_TRUE(wav.m_bFileOpen);
            data = cat({data, frames});
            ASSERT_TRUE(readFile(destPath) == riff({chunk("fmt ", fmtBody), chunk("data", data)}));
        }
        wav.Close();
        EXPECT_EQ(Files(), 2);
    }
    CWavFile wav(sourcePath.c_str());
    EXPECT_FALSE(wav.CreateNewFile((dir / "no such folder/dest.wav").c_str(), 0, 10));
    EXPECT_EQ(wav.GetCopy(), CWavFile::Copy::DestinationUnopened);
    EXPECT_FALSE(wav.m_bFileOpen);
    // korva-cli's tests hold every other refusal; it never hands over a source it cannot read.
    CWavFile none((dir / "none.wav").c_str());
    EXPECT_FALSE(none.AppendToFile(destPath.c_str(), 0, 0));
    EXPECT_EQ(none.GetCopy(), CWavFile::Copy::SourceUnopened);
    EXPECT_EQ(Files(), 2);
}

// A read that fails (the source lost its second half after it was measured): false, the
// destination as it was, the caller's stream still open. (korva-cli's tests fail writes.)
TEST_F(FrameCopy, FailedReadDuringTheCopyLeavesTheDestinationAsItWas)
{
    const Bytes source = riff({kMono16, chunk("data", samples(2 * kBuffer))});
    const Bytes existing = riff({kMono16, chunk("data", samples(4000, 4))});
    writeFile(destPath, existing);
    for (const auto copy : {&CWavFile::CreateNewFile, &CWavFile::AppendToFile})
    {
        writeFile(sourcePath, source);
        CWavFile wav(sourcePath.c_str());
        ASSERT_TRUE(wav.Open("r"));
        fs::resize_file(sourcePath, source.size() / 2);
        EXPECT_FALSE((wav.*copy)(destPath.c_str(), 0, kBuffer));
        EXPECT_EQ(wav.GetCopy(), CWavFile::Copy::IoFailed);
        EXPECT_TRUE(wav.m_bFileOpen);
        EXPECT_TRUE(readFile(destPath) == existing);
        EXPECT_EQ(Files(), 2);
    }
}

TEST_F(FrameCopy, ChannelStreamsTakeTheSameBytesEachItsOwnRiffSizeAndNoNullArray)
{
    CWavFile wav;
    wav.m_nChannels = 3;
    FILE* files[3];
    for (int i = 0; i < 3; ++i)
        ASSERT_NE(files[i] = fopen((dir / ("ch" + std::to_string(i))).c_str(), "w+"), nullptr);
    const Bytes header = riff({kMono16, chunk("data", {})});
    const Bytes frames = samples(30, 9);
    ASSERT_TRUE(wav.WriteBuffer(files, header.data(), 44));
    EXPECT_FALSE(wav.WriteBuffer(files, frames.data(), 0));
    EXPECT_FALSE(wav.WriteBuffer(files, nullptr, 30));

    fclose(files[1]); // the second stream can take no more bytes; the others still get them
    ASSERT_NE(files[1] = fopen("/dev/full", "w"), nullptr);
    setvbuf(files[1], nullptr, _IONBF, 0);
    EXPECT_FALSE(wav.WriteBuffer(files, frames.data(), 30));
    fwrite(frames.data(), 1, 10, files[2]); // the third file is 10 bytes longer

    wav.SetFileDataLen(files);
    EXPECT_EQ(ftell(files[0]), 8);
    EXPECT_EQ(ftell(files[2]), 8);
    wav.CloseFiles(files);
    Bytes expected = cat({header, frames});
    putLe32(expected, 4, 66);
    EXPECT_TRUE(readFile(dir / "ch0") == expected);
    EXPECT_TRUE(readFile(dir / "ch1") == header);
    expected = cat({expected, Bytes(frames.begin(), frames.begin() + 10)});
    putLe32(expected, 4, 76);
    EXPECT_TRUE(readFile(dir / "ch2") == expected);
#ifndef NDEBUG // a null stream array stops with an assertion naming the call
    EXPECT_DEATH(wav.CloseFiles(nullptr), "WavFile.cpp.*CloseFiles.*pFiles");
    EXPECT_DEATH(wav.SetFileDataLen(nullptr), "WavFile.cpp.*SetFileDataLen.*pFiles");
#endif
}
} // namespace
