#pragma once

#include <CLI/CLI.hpp>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class ConsoleTableView;
namespace korva
{
struct FileOutcome;
}

// korva-cli repair: runs the application's controller over the terminal
// platform, with the files and the destination folder as the choosers'
// answers and the options as the pop-up selections.
//
// Standard output: one line per file handled, tab-separated: "repaired",
// "unchanged" or "failed", the destination path, the detail. Exit status:
// 0 when every file was handled and none failed, 1 when a file failed or an
// overwrite was declined, 2 for a usage error, 130 when stopped by Ctrl-C.
class RepairCommand
{
public:
    // Adds the "repair" subcommand and its options to app.
    explicit RepairCommand(CLI::App& app);

    bool chosen() const { return m_command->parsed(); }
    int run();

    static constexpr int kUsageError = 2;

private:
    static constexpr int kStoppedEarly = 1;

    // The index of value in table: the pop-up item that selects it.
    template <typename T, std::size_t N> static int indexIn(const std::array<T, N>& table, T value);
    void reportSkippedArguments(const ConsoleTableView& table) const;
    bool destinationHoldsASource(const ConsoleTableView& table) const;
    void printOutcome(const korva::FileOutcome& outcome) const;

    CLI::App* m_command;
    std::vector<std::string> m_files;
    std::string m_destination;
    uint32_t m_nRate = 0;
    uint16_t m_nBits = 0;
    bool m_bYes = false;
    bool m_bNo = false;
    bool m_bTrace = false;
};
