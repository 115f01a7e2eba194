#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <vector>

#include "ChunkReader.h"
#include "RiffFile.h"
#include "RiffLayout.h"
#include "TempDir.h"
#include "TraceCapture.h"
#include "WavBuilder.h"

using namespace fixture;

// The tolerant walk and the traced search over it. Whole layouts and what the repair
// makes of them: the layout table; hostile sizes and cut files: the hostile table.
class ChunkWalk : public ::testing::Test
{
protected:
    TempDir dir;
    std::unique_ptr<FILE, int (*)(FILE*)> Open(const Bytes& file)
    {
        writeFile(dir / "f.wav", file);
        return {fopen((dir / "f.wav").c_str(), "rb"), fclose};
    }
};

// What a walk visits: "(hole)" for a hole; the offset; the declared size (a hole's
// length); the payload present; a pad byte behind it; a size never finished.
struct Visit
{
    std::string id;
    uint64_t offset, size, present;
    bool pad = false, unfinished = false;
    bool operator==(const Visit&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Visit& v)
{
    return out << v.id << '@' << v.offset << " size " << v.size << " present " << v.present
               << (v.pad ? " pad" : "") << (v.unfinished ? " unfinished" : "");
}

TEST_F(ChunkWalk, LayoutStepsOverPadBytesCrossesHolesAndFindsWhereTheAudioEnds)
{
    const Bytes odd = {1, 2, 3}, audio = samples(10, 4), list = chunk("LIST", ascii("INFO"));
    const auto unset = [](uint32_t nSize, const Bytes& bytes) {
        return cat({ascii("data"), le32(nSize), bytes});
    };
    const std::tuple<const char*, Bytes, std::vector<Visit>> cases[] = {
        {"odd size with its pad byte",
         riff({chunk("JUNK", odd, true), chunk("cue ", {})}),
         {{"JUNK", 12, 3, 3, true}, {"cue ", 24, 0, 0}}},
        {"odd size, the writer left the pad byte out",
         riff({chunk("JUNK", odd), chunk("cue ", {})}),
         {{"JUNK", 12, 3, 3}, {"cue ", 23, 0, 0}}},
        {"a zero behind an odd size that no header follows is no pad byte",
         riff({chunk("JUNK", odd), Bytes(9, 0), chunk("data", {})}),
         {{"JUNK", 12, 3, 3}, {"(hole)", 23, 9, 9}, {"data", 32, 0, 0}}},
        {"pad byte ending the file", riff({chunk("data", odd, true)}), {{"data", 12, 3, 3, true}}},
        {"a size past the end makes a hole",
         riff({chunkDeclared("LIST", 100, {1, 2})}),
         {{"(hole)", 12, 10, 10}}},
        {"a format chunk too short for the format is remains",
         riff({chunk("fmt ", Bytes(4, 1)), chunk("bext", {}), chunk("data", {})}),
         {{"(hole)", 12, 12, 12}, {"bext", 24, 0, 0}, {"data", 32, 0, 0}}},
        // A plausible header found in a hole must be a well-known one or lead to one.
        {"text in a hole is no header",
         riff({Bytes(4, 0), ascii("abcd"), le32(2), ascii("wxyz"), chunk("data", odd, true)}),
         {{"(hole)", 12, 16, 16}, {"data", 28, 3, 3, true}}},
        {"an unknown chunk that leads to a known one",
         riff({Bytes(4, 0), chunk("abcd", ascii("wx")), chunk("data", {})}),
         {{"(hole)", 12, 4, 4}, {"abcd", 16, 2, 2}, {"data", 26, 0, 0}}},
        // Audio whose size was never written runs to the end, or to a chain of headers
        // that ends the file exactly; bytes behind finished audio are a hole up to one.
        {"unfinished data runs to the end",
         riff({unset(0, audio)}),
         {{"data", 12, 0, 10, false, true}}},
        {"unfinished data stops at the chunks that end the file",
         riff({unset(0xFFFFFFFF, audio), list, chunk("cue ", {})}),
         {{"data", 12, 0xFFFFFFFF, 10, false, true}, {"LIST", 30, 4, 4}, {"cue ", 42, 0, 0}}},
        {"a data size past the end",
         riff({chunkDeclared("data", 100, audio)}),
         {{"data", 12, 100, 10, false, true}}},
        {"garbage behind the audio",
         riff({chunk("data", audio), Bytes(6, 0xFF), list}),
         {{"data", 12, 10, 10}, {"(hole)", 30, 6, 6}, {"LIST", 36, 4, 4}}},
    };
    for (const auto& [name, file, expected] : cases)
    {
        const auto f = Open(file);
        struct stat info;
        ASSERT_EQ(fstat(fileno(f.get()), &info), 0);
        ChunkReader reader(fileno(f.get()), static_cast<uint64_t>(info.st_size), true);
        std::vector<Visit> visited;
        for (const auto& e : RiffLayout::Read(reader).entries)
            visited.push_back(
                {e.bHole ? "(hole)" : e.id, e.nOffset, e.nSize, e.nPayload, e.bPad, e.bUnfinished});
        EXPECT_EQ(visited, expected) << name;
    }
}

TEST_F(ChunkWalk, SearchHonoursItsStartNameAndFlags)
{
    const Bytes bigEndian =
        cat({ascii("RIFFxxxxWAVEJUNK"), {0, 0, 0, 2, 0, 0}, ascii("data"), {0, 0, 0, 0}});
    const Bytes twoData = riff({chunk("data", {}), chunk("data", {})});
    // Start, no skip, byte-order flag; the offset found.
    const std::tuple<const char*, Bytes, const char*, uint64_t, bool, bool, uint32_t> cases[] = {
        {"odd chunk without pad byte", riff({chunk("data", {1, 2, 3}), chunk("cue ", {})}), "cue ",
         12, false, true, 23},
        {"three-letter name never matches", riff({chunk("fmt ", fmtPcm(1, 48000, 24))}), "fmt", 12,
         false, true, 0},
        {"a header cut short is no chunk", cat({riff({chunk("JUNK", {})}), ascii("data")}), "data",
         12, false, true, 0},
        {"start past the end", twoData, "data", 1000, false, true, 0},
        {"first of two", twoData, "data", 12, false, true, 12},
        {"big-endian sizes, flag false", bigEndian, "data", 12, false, false, 22},
        {"a hole of 0xFF bytes is crossed",
         riff({chunk("bext", bextBody(0)), Bytes(24, 0xFF), chunk("data", {0, 0})}), "data", 12,
         false, true, 646},
        {"no skip examines every eight-byte step",
         riff({chunk("JUNK", cat({ascii("data"), le32(0)}))}), "data", 12, true, true, 20},
    };
    TraceCapture quiet;
    for (const auto& [name, file, search, start, noSkip, intel, at] : cases)
        EXPECT_EQ(CRiffFile::SearchForChunk(Open(file).get(), start, search, noSkip, intel), at)
            << name;
}
