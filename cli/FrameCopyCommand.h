#pragma once

#include "ExistingFilePolicy.h"
#include "FileOutcome.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>

class CWavFile;

// korva-cli extract and korva-cli append: the frames --from (the first,
// counted from 0) to --to (one past the last) of SOURCE's data chunk, written
// into DEST. extract: a new WAV file holding SOURCE's fmt chunk and the frames;
// a file already at DEST is replaced only as --existing says. append: added to
// the end of the data chunk of the existing WAV file DEST, which must end the
// file and be of SOURCE's format, with its sizes updated. SOURCE is only read;
// a DEST that is SOURCE is refused. Nothing is written when a check fails, and
// a write that fails leaves DEST as it was.
//
// Standard output: one line, tab-separated: "extracted" or "appended",
// "skipped" or "not processed" (a file at DEST kept), or "failed"; DEST; the
// detail (for a failure, the file at fault, why, and what to do); with --json
// one object. Exit status: 0 when the frames were written or --existing skip
// kept DEST, 1 when not, 2 for a usage error.
class FrameCopyCommand
{
public:
    enum class Mode
    {
        Extract,
        Append,
    };

    // Adds the command ("extract" or "append") and its options to app.
    FrameCopyCommand(CLI::App& app, Mode mode);

    bool chosen() const { return m_command->parsed(); }
    int run();

private:
    std::string formatMismatch(const CWavFile& source) const;
    std::string copyFailure(const CWavFile& source) const;
    std::string copied(const CWavFile& source) const;
    std::string range() const;
    int print(korva::FileOutcome::Kind kind, const std::string& detail) const;

    Mode m_mode;
    CLI::App* m_command;
    uint32_t m_nFrom = 0;
    uint32_t m_nTo = 0;
    std::string m_source;
    std::string m_destination;
    bool m_bJson = false;
    std::optional<ExistingFilePolicy> m_existing; // extract's
};
