// korva-bench-files: the library side of bench/run.sh.
//   make DIR COUNT BYTES remains|insert
//                                  writes COUNT Broadcast Wave files of about
//                                  BYTES each that lost their fmt chunk: the
//                                  repair writes over its remains, or (insert)
//                                  data follows bext directly and the chunk
//                                  goes in between
//   head FILE BYTES                one such file with a JUNK chunk at its head
//   delete FILE ID                 DeleteChunk(ID) on FILE; exit 0 when removed
//   card IMAGE MIB BYTES [exfat|fat32 [TAKES]]
//                                  a card image of MIB MiB (32 KiB clusters, 128
//                                  KiB past 32 GiB, as cards come formatted)
//                                  holding one take of about BYTES of stereo
//                                  24-bit audio, lost to a power cut: its entry
//                                  says 0 bytes and keeps only its first
//                                  cluster; with the folder TAKES, a day's
//                                  takes lost (a take alone, two recorded at
//                                  once, an RF64 take, one whose entry states
//                                  its last flush), and the audio of each that
//                                  reached the card in TAKES/NAME.pcm, listed
//                                  with its frame size in TAKES/takes.txt
//   compare TAKES FILE...          which take each file's audio is, the frames
//                                  of it it holds from the start, the foreign
//                                  ones behind them; each take's most frames
//                                  held by one file, and a summary line
//   uncache DIR                    drops the pages of the files under DIR, which
//                                  must be on the disk, from the page cache
//   overview FILE ROUNDS           the overview (1000 envelope columns) of FILE's
//                                  bytes as 48 kHz 24-bit stereo audio, once to
//                                  warm the cache, then ROUNDS times: prints the
//                                  median milliseconds and the bytes read
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

#include "CardRecorder.h"
#include "FatCard.h"
#include "RiffFile.h"
#include "TakeOverview.h"
#include "Trace.h"

namespace
{
using fixture::Bytes;

void PutLe32(std::vector<uint8_t>& out, uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(n >> (8 * i)));
}

void PutChunkHeader(std::vector<uint8_t>& out, const char* pszId, uint32_t nSize)
{
    out.insert(out.end(), pszId, pszId + 4);
    PutLe32(out, nSize);
}

// The header of the file up to the data chunk's samples, which follow it.
std::vector<uint8_t> Head(uint64_t nSamples, bool bJunk, bool bRemains)
{
    constexpr uint32_t kBextBody = 602;
    constexpr uint32_t kJunkBody = 4096;
    std::vector<uint8_t> head;
    const uint64_t nLength =
        12 + (bJunk ? 8 + kJunkBody : 0) + 8 + kBextBody + (bRemains ? 24 : 0) + 8 + nSamples;
    head.insert(head.end(), {'R', 'I', 'F', 'F'});
    PutLe32(head, static_cast<uint32_t>(nLength - 8));
    head.insert(head.end(), {'W', 'A', 'V', 'E'});
    if (bJunk)
    {
        PutChunkHeader(head, "JUNK", kJunkBody);
        head.resize(head.size() + kJunkBody, 0);
    }
    PutChunkHeader(head, "bext", kBextBody);
    head.resize(head.size() + kBextBody, 0);
    if (bRemains)
        head.resize(head.size() + 24, 0);
    PutChunkHeader(head, "data", static_cast<uint32_t>(nSamples));
    return head;
}

// Writes the head and nSamples bytes of noise, so that no file is sparse.
bool WriteWav(const std::string& path, uint64_t nSamples, bool bJunk, bool bRemains)
{
    FILE* pFile = fopen(path.c_str(), "wb");
    if (pFile == nullptr)
        return false;
    const std::vector<uint8_t> head = Head(nSamples, bJunk, bRemains);
    bool bOk = fwrite(head.data(), 1, head.size(), pFile) == head.size();
    std::vector<uint8_t> block(1 << 20);
    uint32_t x = 12345;
    for (uint8_t& b : block)
        b = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
    for (uint64_t nDone = 0; bOk && nDone < nSamples;)
    {
        const std::size_t n =
            static_cast<std::size_t>(std::min<uint64_t>(block.size(), nSamples - nDone));
        bOk = fwrite(block.data(), 1, n, pFile) == n;
        nDone += n;
    }
    return fclose(pFile) == 0 && bOk;
}
// A card whose takes a power cut left unfinished. Without a folder for the
// takes, one take of about nBytes of stereo 24-bit audio (its entry says 0
// bytes and keeps only its first cluster). With one, the takes of a recording
// day, all lost: a take alone, a four-track take and its stereo mix recorded
// at once, an RF64 take, and a take whose entry states its last flush, half
// way; each of about nBytes (the mix a third of it). What reached the card of
// each take's audio goes into a file of its own, for comparison.
bool WriteCard(const std::string& image, uint32_t nMiB, uint64_t nBytes, bool bFat32,
               const std::string& takes)
{
    using fixture::tone;
    const auto pCard = fixture::FatCard::make(bFat32 ? fixture::FatCard::FileSystem::Fat32
                                                     : fixture::FatCard::FileSystem::ExFat,
                                              image, nMiB, nMiB > 32768 ? 131072 : 32768);
    fixture::CardRecorder recorder(*pCard);
    const auto format = [](uint16_t nChannels, uint16_t nBits)
    { return WavFormat{.nChannels = nChannels, .nSampleRate = 48000, .nBitsPerSample = nBits}; };
    // Distinct pitches (110 Hz times the seed's rest by 7, plus the channel, plus 1) for each take.
    const int alone =
        recorder.start(takes.empty() ? "TAKE0001.WAV" : "240611/T01.WAV", format(2, 24));
    recorder.record(alone, tone(nBytes / 6, 2, 24, false, 0));
    recorder.lose(alone);
    if (!takes.empty())
    {
        const int poly = recorder.start("240611/T02P.WAV", format(4, 24));
        const int mix = recorder.start("240611/T02M.WAV", format(2, 16));
        fixture::interleave(
            recorder,
            {{poly, tone(nBytes / 12, 4, 24, false, 2)}, {mix, tone(nBytes / 12, 2, 16, false, 4)}},
            pCard->clusterSize());
        const int wide = recorder.start("240611/T03.WAV", format(2, 24), true);
        recorder.record(wide, tone(nBytes / 6, 2, 24, false, 6));
        const int stale = recorder.start("240611/T04.WAV", format(1, 24));
        const Bytes pcm = tone(nBytes / 3, 1, 24, false, 3);
        const auto half = pcm.begin() + static_cast<std::ptrdiff_t>(pcm.size() / 2);
        recorder.record(stale, Bytes(pcm.begin(), half));
        recorder.flush(stale, true);
        recorder.record(stale, Bytes(half, pcm.end()));
        for (const int id : {poly, mix, wide, stale})
            recorder.lose(id);
    }
    // The entries as the power cut leaves them: what each take's last flush stated.
    recorder.cut();
    pCard->save();
    if (takes.empty())
        return true;
    FILE* pList = std::fopen((takes + "/takes.txt").c_str(), "w");
    bool bOk = pList != nullptr;
    for (const fixture::CardRecorder::Take& take : recorder.takes)
    {
        const std::string name = take.path.substr(take.path.rfind('/') + 1);
        const auto reached = static_cast<std::ptrdiff_t>(take.nOnCard - take.nHeader);
        fixture::writeFile(takes + "/" + name + ".pcm",
                           Bytes(take.pcm.begin(), take.pcm.begin() + reached));
        bOk = bOk &&
              std::fprintf(pList, "%s %u\n", name.c_str(), unsigned{take.format.BlockAlign()}) > 0;
    }
    return (pList == nullptr || std::fclose(pList) == 0) && bOk;
}

// Where a WAVE file's audio begins: behind its data chunk's header; 0 when it has none.
uint64_t AudioOffset(FILE* pFile)
{
    uint8_t header[8];
    for (uint64_t nAt = 12; std::fseek(pFile, static_cast<long>(nAt), SEEK_SET) == 0 &&
                            std::fread(header, 1, 8, pFile) == 8;)
    {
        if (std::memcmp(header, "data", 4) == 0)
            return nAt + 8;
        const uint32_t nSize = fixture::readLe32(std::span<const uint8_t>(header), 4);
        nAt += 8 + nSize + (nSize & 1);
    }
    return 0;
}

// For each file, the take whose audio its own begins with, the frames of that
// take it holds from the start on, the frames behind them that are not the
// take's (foreign: another take's audio, older data, zeros) and of those the
// frames of zeros; then for each take the most of its frames one file held.
int Compare(const std::string& takes, int argc, char** argv)
{
    struct Take
    {
        std::string name;
        unsigned nAlign;
        Bytes pcm;
        uint64_t nBest = 0;
        bool bWhole = false;
    };
    std::vector<Take> list;
    FILE* pList = std::fopen((takes + "/takes.txt").c_str(), "r");
    char name[256];
    unsigned nAlign = 0;
    while (pList != nullptr && std::fscanf(pList, "%255s %u", name, &nAlign) == 2)
        list.push_back({name, nAlign, fixture::readFile(takes + "/" + name + ".pcm")});
    if (pList == nullptr || list.empty())
        return 1;
    std::fclose(pList);
    uint64_t nForeignFiles = 0, nForeignFrames = 0;
    for (int i = 0; i < argc; ++i)
    {
        FILE* pFile = std::fopen(argv[i], "rb");
        if (pFile == nullptr)
            return 1;
        const uint64_t nAudio = AudioOffset(pFile);
        std::fseek(pFile, 0, SEEK_END);
        const auto nEnd = static_cast<uint64_t>(std::ftell(pFile));
        Bytes audio(nAudio > 0 ? nEnd - nAudio : 0);
        std::fseek(pFile, static_cast<long>(nAudio), SEEK_SET);
        const bool bRead = std::fread(audio.data(), 1, audio.size(), pFile) == audio.size();
        std::fclose(pFile);
        if (!bRead)
            return 1;
        Take* pTake = nullptr;
        for (Take& take : list)
        {
            const std::size_t nHead = std::min<std::size_t>({64, take.pcm.size(), audio.size()});
            if (nHead > 0 &&
                std::equal(audio.begin(), audio.begin() + static_cast<std::ptrdiff_t>(nHead),
                           take.pcm.begin()))
                pTake = &take;
        }
        const unsigned nFrame = pTake != nullptr ? pTake->nAlign : 1;
        const auto mismatch = pTake != nullptr ? std::mismatch(audio.begin(), audio.end(),
                                                               pTake->pcm.begin(), pTake->pcm.end())
                                                     .first
                                               : audio.begin();
        // A last frame cut short but the take's own is not foreign.
        const uint64_t nOwn = static_cast<uint64_t>(mismatch - audio.begin()) / nFrame;
        const uint64_t nRest = mismatch == audio.end() ? 0 : audio.size() - nOwn * nFrame;
        const uint64_t nForeign = (nRest + nFrame - 1) / nFrame;
        uint64_t nZeros = 0;
        for (uint64_t n = nOwn * nFrame; n + nFrame <= audio.size(); n += nFrame)
            nZeros += std::all_of(audio.begin() + static_cast<std::ptrdiff_t>(n),
                                  audio.begin() + static_cast<std::ptrdiff_t>(n + nFrame),
                                  [](uint8_t b) { return b == 0; });
        std::printf(
            "file %s take %s frames %llu foreign %llu zeros %llu\n", argv[i],
            pTake != nullptr ? pTake->name.c_str() : "-", static_cast<unsigned long long>(nOwn),
            static_cast<unsigned long long>(nForeign), static_cast<unsigned long long>(nZeros));
        if (nForeign > nZeros)
            ++nForeignFiles, nForeignFrames += nForeign - nZeros;
        if (pTake != nullptr)
        {
            pTake->nBest = std::max(pTake->nBest, nOwn);
            pTake->bWhole = pTake->bWhole || (nOwn == pTake->pcm.size() / nFrame && nForeign == 0);
        }
    }
    uint64_t nWhole = 0, nFrames = 0, nBest = 0;
    for (const Take& take : list)
    {
        std::printf("take %s frames %llu best %llu whole %s\n", take.name.c_str(),
                    static_cast<unsigned long long>(take.pcm.size() / take.nAlign),
                    static_cast<unsigned long long>(take.nBest), take.bWhole ? "yes" : "no");
        nWhole += take.bWhole, nFrames += take.pcm.size() / take.nAlign, nBest += take.nBest;
    }
    std::printf("summary takes %zu whole %llu frames %.1f%% files %d with-foreign %llu "
                "foreign-frames %llu\n",
                list.size(), static_cast<unsigned long long>(nWhole),
                nFrames > 0 ? 100.0 * static_cast<double>(nBest) / static_cast<double>(nFrames)
                            : 0.0,
                argc, static_cast<unsigned long long>(nForeignFiles),
                static_cast<unsigned long long>(nForeignFrames));
    return 0;
}
// The warm overview of a whole file as audio: its median time and its reads.
int TimeOverview(const char* pszPath, int nRounds)
{
    const WavFormat format{.nChannels = 2, .nSampleRate = 48000, .nBitsPerSample = 24};
    const uint64_t nBytes = std::filesystem::file_size(pszPath);
    std::vector<double> ms;
    TakeOverview overview;
    for (int i = 0; i <= nRounds; ++i)
    {
        const auto start = std::chrono::steady_clock::now();
        overview = TakeOverview::Read(pszPath, 0, nBytes, format, 1000);
        if (overview.bFailed)
            return 1;
        if (i > 0) // the first run warms the cache
            ms.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%.2f ms %llu bytes\n", ms[ms.size() / 2],
                static_cast<unsigned long long>(overview.nBytesRead));
    return 0;
}
} // namespace

// Thousands of copies kept until a row ends would fill the page cache, and
// the kernel's reclaim, not the programs, would then decide the later rounds.
int Uncache(const char* pszFolder)
{
    for (const auto& entry : std::filesystem::recursive_directory_iterator(pszFolder))
    {
        if (!entry.is_regular_file())
            continue;
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) != 0)
            return 1;
        ::close(fd);
    }
    return 0;
}

int main(int argc, char** argv)
{
    CTrace::SetStream(nullptr);
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "make" && argc == 6)
    {
        const int nCount = std::atoi(argv[3]);
        const uint64_t nBytes = std::strtoull(argv[4], nullptr, 10);
        const bool bInsert = std::strcmp(argv[5], "insert") == 0;
        for (int i = 0; i < nCount; ++i)
        {
            const std::string path = std::string(argv[2]) + "/take" + std::to_string(i) + ".wav";
            // Whole frames of 16- and 24-bit mono and stereo audio.
            if (!WriteWav(path, (nBytes - 654) / 12 * 12, false, !bInsert))
                return 1;
        }
        return 0;
    }
    if (command == "head" && argc == 4)
        return WriteWav(argv[2], std::strtoull(argv[3], nullptr, 10), true, true) ? 0 : 1;
    if (command == "delete" && argc == 4)
    {
        CRiffFile file;
        return file.SetPath(argv[2], true) && file.DeleteChunk(argv[3]) ? 0 : 1;
    }
    if (command == "card" && argc >= 5 && argc <= 7)
        return WriteCard(argv[2], static_cast<uint32_t>(std::atoi(argv[3])),
                         std::strtoull(argv[4], nullptr, 10),
                         argc > 5 && std::strcmp(argv[5], "fat32") == 0, argc > 6 ? argv[6] : "")
                   ? 0
                   : 1;
    if (command == "uncache" && argc == 3)
        return Uncache(argv[2]);
    if (command == "overview" && argc == 4 && std::atoi(argv[3]) > 0)
        return TimeOverview(argv[2], std::atoi(argv[3]));
    if (command == "compare" && argc >= 3)
        return Compare(argv[2], argc - 3, argv + 3);
    std::fprintf(stderr,
                 "usage: %s make DIR COUNT BYTES remains|insert | head FILE BYTES | delete FILE ID "
                 "| card IMAGE MIB BYTES [exfat|fat32 [TAKES]] | compare TAKES FILE... "
                 "| uncache DIR | overview FILE ROUNDS\n",
                 argv[0]);
    return 2;
}
