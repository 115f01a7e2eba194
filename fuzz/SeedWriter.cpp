// korva-fuzz-seeds DIR: writes a starting corpus for every fuzz target into
// DIR/<target>/, built byte by byte, so that fuzzing starts from the shapes
// that matter (a lost fmt chunk behind bext, a live chunk behind bext, odd
// sizes, the optional chunks, every layout of the repair's table) instead of
// from nothing.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Layouts.h"
#include "WavBuilder.h"

using namespace fixture;

namespace
{
std::vector<Bytes> WavShapes()
{
    const Bytes pcm = samples(96, 3);
    const Bytes lostFmt = Bytes(24, 0); // the wiped remains of a format chunk
    return {
        bwf(48000, 24, pcm),
        riff({chunk("fmt ", fmtPcm(2, 44100, 16)), chunk("data", samples(7, 1), true)}),
        riff({chunk("bext", bextBody(1234)), lostFmt, chunk("data", pcm)}),
        riff({chunk("bext", bextBody(1)), chunk("data", pcm)}),
        riff({chunk("bext", bextBody(5, 0, 603)), lostFmt, chunk("data", pcm)}),
        riff({chunk("JUNK", Bytes(28, 0)), chunk("bext", bextBody(9)), lostFmt,
              chunk("regn", cat({le32(2), Bytes(20, 0)})), chunk("data", pcm),
              chunk("cue ", cat({le32(0)})), chunk("AFJx", Bytes(4, 0))}),
        riff({chunk("fmt ", cat({fmtPcm(1, 96000, 24), le16(0)})), chunk("data", pcm)}),
        riff({chunk("bext", bextBody(0, 0, 64))}),
        riff({chunkDeclared("data", 0xFFFFFFF7u, pcm)}),
        ascii("RIFF"),
    };
}

// Every layout of the repair's table, damaged and repaired.
std::vector<Bytes> Shapes()
{
    std::vector<Bytes> shapes = WavShapes();
    for (const fixture::Layout& layout : fixture::Layouts())
    {
        shapes.push_back(layout.source);
        if (!layout.repaired.empty())
            shapes.push_back(layout.repaired);
    }
    return shapes;
}

void WriteCorpus(const std::filesystem::path& folder, const std::vector<Bytes>& prefixes)
{
    std::filesystem::create_directories(folder);
    int n = 0;
    for (const Bytes& prefix : prefixes)
        for (const Bytes& shape : Shapes())
            writeFile(folder / ("seed-" + std::to_string(n++)), cat({prefix, shape}));
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    WriteCorpus(dir / "fuzz-walk", {Bytes{}});
    // fuzz-repair: one byte picks the depth (8, 16, 24 bits).
    WriteCorpus(dir / "fuzz-repair", {{0}, {1}, {2}});
    // fuzz-delete-chunk: one byte picks the identifier (data, fmt , bext, JUNK).
    WriteCorpus(dir / "fuzz-delete-chunk", {{0}, {1}, {2}, {3}});
    // fuzz-evidence: two bytes for the lengths of the bext body and the iXML text.
    WriteCorpus(dir / "fuzz-evidence", {{76, 20}, {80, 0}, {0, 40}});
    // fuzz-new-file: the frame range, first and one past the last.
    WriteCorpus(dir / "fuzz-new-file",
                {cat({le32(0), le32(32)}), cat({le32(3), le32(5)}), cat({le32(4), le32(4)})});
    return 0;
}
