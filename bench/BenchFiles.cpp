// korva-bench-files: the library side of bench/run.sh.
//   make DIR COUNT BYTES remains|insert
//                                  writes COUNT Broadcast Wave files of about
//                                  BYTES each that lost their fmt chunk: the
//                                  repair writes over its remains, or (insert)
//                                  data follows bext directly and the chunk
//                                  goes in between
//   head FILE BYTES                one such file with a JUNK chunk at its head
//   delete FILE ID                 DeleteChunk(ID) on FILE; exit 0 when removed
//   card IMAGE MIB BYTES           an exFAT card image of MIB MiB (32 KiB clusters)
//                                  holding one take of about BYTES of stereo
//                                  24-bit audio, lost to a power cut: its entry
//                                  says 0 bytes and keeps only its first cluster
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
#include <filesystem>
#include <string>
#include <vector>

#include "FatCard.h"
#include "RiffFile.h"
#include "TakeOverview.h"
#include "Trace.h"

namespace
{
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
// A recorder's take on a card: the header with the sizes a recorder writes
// first (0), then nBytes of audio that runs on smoothly from cluster to cluster,
// as a take's does; then the power cut.
bool WriteCard(const std::string& image, uint32_t nMiB, uint64_t nBytes)
{
    const auto pCard =
        fixture::FatCard::make(fixture::FatCard::FileSystem::ExFat, image, nMiB, 32768);
    fixture::FatCard& card = *pCard;
    const int take = card.create("TAKE0001.WAV");
    std::vector<uint8_t> head = Head(0, false, false);
    head.resize(head.size() - 8); // the data header goes behind the format chunk
    const uint8_t fmt[] = {'f',  'm',  't', ' ', 16, 0,    0, 0, 1, 0, 2,  0,
                           0x80, 0xBB, 0,   0,   0,  0x65, 4, 0, 6, 0, 24, 0};
    head.insert(head.end(), std::begin(fmt), std::end(fmt));
    PutChunkHeader(head, "data", 0);
    std::fill_n(head.begin() + 4, 4, 0);
    card.write(take, head);
    std::vector<uint8_t> block;
    for (uint64_t nFrame = 0; nFrame * 6 < nBytes; ++nFrame)
    {
        for (const double hz : {220.0, 331.0})
        {
            const auto v =
                static_cast<int32_t>(3000000.0 * std::sin(2 * 3.14159265358979 * hz *
                                                          static_cast<double>(nFrame) / 48000));
            block.insert(block.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                                       static_cast<uint8_t>(v >> 16)});
        }
        if (block.size() >= (1 << 20))
            card.write(take, block), block.clear();
    }
    card.write(take, block);
    card.cut(take, 0);
    card.save();
    return true;
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
    if (command == "card" && argc == 5)
        return WriteCard(argv[2], static_cast<uint32_t>(std::atoi(argv[3])),
                         std::strtoull(argv[4], nullptr, 10))
                   ? 0
                   : 1;
    if (command == "overview" && argc == 4 && std::atoi(argv[3]) > 0)
        return TimeOverview(argv[2], std::atoi(argv[3]));
    std::fprintf(stderr,
                 "usage: %s make DIR COUNT BYTES remains|insert | head FILE BYTES | delete FILE ID "
                 "| card IMAGE MIB BYTES | overview FILE ROUNDS\n",
                 argv[0]);
    return 2;
}
