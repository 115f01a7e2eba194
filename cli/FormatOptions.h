#pragma once

#include "FormatChoice.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

// The format options of the commands that read a file as the repair writes
// it: --rate, --bits, --channels (each a value or auto), --float, --auto and
// --strict. repair and inspect share them, so that inspect shows what the
// same options make repair do.
class FormatOptions
{
public:
    // Adds the options to command. A part no option names is the file's own;
    // a part an option names wins over the file, --auto included.
    explicit FormatOptions(CLI::App& command);

    // The choice the options make; nothing, after a message on standard
    // error, when they ask for a depth that cannot be.
    std::optional<FormatChoice> choice() const;

private:
    std::string m_rate;     // hertz, or "auto" (also when not given)
    std::string m_bits;     // a number, or "auto" (also when not given)
    std::string m_channels; // a number, or "auto" (also when not given)
    bool m_bFloat = false;
    bool m_bStrict = false;
};

// How korva-cli's user settles what a file cannot tell: the options to pass.
FormatChoice WithOptionHints(FormatChoice choice);
