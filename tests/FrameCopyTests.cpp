#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
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
        {"MiddleOfAStereo24BitFile", fmtPcm(2, 48000, 24), 600, 7, 61, {}},
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
    EXPECT_FALSE(wav.m_bFileOpen);
}

// Copies refused before anything is written: no file made (not even a partial one), none
// changed. A row: source, destination (none: no file there) and the zero bytes behind it
// (sparse: sizes close to the 4 GiB limit cost no disk), the range, what is refused.
TEST_F(FrameCopy, RefusedCopyWritesNoByte)
{
    const Bytes source = riff({kMono16, chunk("data", samples(64))});
    const Bytes dest = riff({kMono16, chunk("data", samples(12, 4))});
    const Bytes alignFour = riff({chunk("fmt ", fmtPcm(2, 48000, 16)), chunk("data", samples(10))});
    const auto nearTheLimit = [](uint32_t nDataSize)
    {
        return cat({ascii("RIFF"), le32(36 + nDataSize), ascii("WAVE"), kMono16, ascii("data"),
                    le32(nDataSize)});
    };
    using Row = std::tuple<const char*, Bytes, Bytes, uint32_t, uint32_t, uint32_t, std::string>;
    const Row cases[] = {
        {"StartAfterEnd", alignFour, dest, 0, 2, 1, "both"},
        {"EndPastTheWholeFrames", alignFour, dest, 0, 0, 3, "both"},
        {"BlockAlignZero",
         riff({chunk("fmt ", cat({le16(1), le16(1), le32(48000), le32(96000), le16(0), le16(16)})),
               chunk("data", samples(10))}),
         dest, 0, 0, 0, "both"},
        {"NoFormatChunk", riff({chunk("data", samples(10))}), dest, 0, 0, 1, "both"},
        {"NoDataChunk", riff({kMono16}), dest, 0, 0, 0, "both"},
        {"DataSizePastTheEndOfTheFile", riff({kMono16, chunkDeclared("data", 4000, samples(10))}),
         dest, 0, 0, 2000, "both"},
        {"NoSourceFile", {}, dest, 0, 0, 0, "both"},
        // Only a new file carries the format chunk, so only it needs the body in the buffer.
        {"FormatBodyLargerThanTheBuffer",
         riff({chunk("fmt ", cat({fmtPcm(1, 48000, 16), samples(kBuffer)})),
               chunk("data", samples(10))}),
         dest, 0, 0, 1, "create"},
        {"NoDestinationFile", source, {}, 0, 0, 20, "append"},
        {"DestinationWithoutDataChunk", source, riff({kMono16}), 0, 0, 20, "append"},
        {"DestinationNotARiffFile", source, ascii("just some text"), 0, 0, 20, "append"},
        {"ChunkBehindTheDestinationsData", source,
         riff({kMono16, chunk("data", samples(8)), chunk("LIST", ascii("INFO"))}), 0, 0, 20,
         "append"},
        {"DestinationsOddDataWithItsPadByte", source,
         riff({chunk("fmt ", fmtPcm(1, 48000, 8)), chunk("data", samples(7), true)}), 0, 0, 20,
         "append"},
        {"DestinationsDataSizePastTheEnd", source,
         riff({kMono16, chunkDeclared("data", 64, samples(8))}), 0, 0, 20, "append"},
        {"DataSizeWouldOverflow", source, nearTheLimit(0xFFFFFFF0), 0xFFFFFFF0, 0, 20, "append"},
        {"RiffSizeWouldOverflow", source, nearTheLimit(0xFFFFFFC8), 0xFFFFFFC8, 0, 20, "append"},
    };
    for (const auto& [name, sourceBytes, destBytes, nSparse, start, end, refused] : cases)
    {
        SCOPED_TRACE(name);
        fs::remove(sourcePath);
        fs::remove(destPath);
        if (!sourceBytes.empty())
            writeFile(sourcePath, sourceBytes);
        if (!destBytes.empty())
            writeFile(destPath, destBytes);
        if (nSparse != 0)
            fs::resize_file(destPath, destBytes.size() + nSparse);
        const auto nFiles = Files();
        CWavFile wav(sourcePath.c_str());
        EXPECT_TRUE(refused == "append" || !wav.CreateNewFile(destPath.c_str(), start, end));
        EXPECT_TRUE(refused == "create" || !wav.AppendToFile(destPath.c_str(), start, end));
        EXPECT_FALSE(wav.m_bFileOpen);
        EXPECT_EQ(Files(), nFiles);
        if (destBytes.empty())
            continue;
        EXPECT_EQ(fs::file_size(destPath), destBytes.size() + nSparse);
        Bytes head(destBytes.size());
        std::ifstream(destPath, std::ios::binary)
            .read(reinterpret_cast<char*>(head.data()), head.size());
        EXPECT_TRUE(head == destBytes);
    }

    // A data length no 32-bit size field can hold, as a caller may set it.
    writeFile(sourcePath, alignFour);
    writeFile(destPath, dest);
    CWavFile wav(sourcePath.c_str());
    wav.m_nDataLength = uint64_t{1} << 34;
    EXPECT_FALSE(wav.CreateNewFile(destPath.c_str(), 0, 0x40000001));
    EXPECT_FALSE(wav.AppendToFile(destPath.c_str(), 0, 0x40000001));
    EXPECT_TRUE(readFile(destPath) == dest);
    EXPECT_EQ(Files(), 2);
}

// A read that fails (the source lost its second half after it was measured) and a write
// that fails (past the file size limit, its signal ignored): false, the destination as it was.
TEST_F(FrameCopy, FailedReadOrWriteDuringTheCopyLeavesTheDestinationAsItWas)
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
        EXPECT_TRUE(readFile(destPath) == existing);

        writeFile(sourcePath, source);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit low{kBuffer, old.rlim_max};
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &low);
        const bool bCopied = (wav.*copy)(destPath.c_str(), 0, kBuffer);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, handler);
        EXPECT_FALSE(bCopied);
        EXPECT_TRUE(wav.m_bFileOpen) << "the caller's stream stays open";
        EXPECT_TRUE(readFile(destPath) == existing);
        EXPECT_EQ(Files(), 2);
    }
}

// The reference is 16-bit mono: the new file is its 44-byte header and the frames.
TEST_F(FrameCopy, FramesMatchWhatSoxTrimGives)
{
    const std::string reference = "/usr/share/sounds/alsa/Front_Center.wav";
    if (std::system("command -v sox >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "sox is not installed";
    ASSERT_TRUE(fs::exists(reference)) << "alsa-utils provides " << reference;

    CWavFile wav(reference.c_str());
    const uint32_t nFrames = static_cast<uint32_t>(wav.GetFullFileRegionEnd());
    ASSERT_GT(nFrames, 60000u);
    const std::pair<uint32_t, uint32_t> ranges[] = {
        {0, 1}, {1234, 40321}, {0, nFrames}, {nFrames - 7, nFrames}};
    const std::string oursPath = dir / "ours.wav", soxPath = dir / "sox.raw";
    for (const auto& [start, end] : ranges)
    {
        SCOPED_TRACE(std::to_string(start) + " to " + std::to_string(end));
        ASSERT_TRUE(wav.CreateNewFile(oursPath.c_str(), start, end));
        const std::string command = "sox '" + reference + "' -t raw '" + soxPath + "' trim " +
                                    std::to_string(start) + "s =" + std::to_string(end) + "s";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;

        const Bytes ours = readFile(oursPath), theirs = readFile(soxPath);
        EXPECT_EQ(theirs.size(), 2 * (end - start));
        EXPECT_TRUE(ours == cat({Bytes(ours.begin(), ours.begin() + 44), theirs}));
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
