#include "BatchReport.h"

#include "RiffIO.h"
#include "TemporaryCopy.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <string_view>

namespace fs = std::filesystem;
using korva::FileOutcome;

namespace
{
// The columns, each with what it shows of an outcome; "" for nothing.
struct Column
{
    const char* name;
    std::string (*of)(const FileOutcome& outcome);
};

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : "\n") + line;
    return text;
}

const Column kColumns[] = {
    {"source", [](const FileOutcome& o) { return o.sourcePath; }},
    {"copy", [](const FileOutcome& o) { return o.destinationPath; }},
    {"result", [](const FileOutcome& o) { return std::string(korva::KindWord(o.kind)); }},
    {"format", [](const FileOutcome& o)
     { return o.format ? korva::DescribeFormat(*o.format) : std::string(); }},
    {"format from", [](const FileOutcome& o) { return o.format ? o.formatSources : ""; }},
    {"duration", [](const FileOutcome& o)
     { return o.seconds ? korva::DurationWords(*o.seconds) : std::string(); }},
    {"warnings", [](const FileOutcome& o) { return joined(o.warnings); }},
    {"detail", [](const FileOutcome& o) { return o.detail; }},
};

std::string csvField(const std::string& text)
{
    const std::string field = korva::ValidUtf8(text);
    if (field.find_first_of(",\"\r\n") == std::string::npos)
        return field;
    std::string quoted = "\"";
    for (const char c : field)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + '"';
}

bool endsInTxt(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".txt";
}
} // namespace

std::string BatchReport::Csv() const
{
    std::string csv;
    for (const Column& column : kColumns)
        csv += (&column == kColumns ? "" : ",") + csvField(column.name);
    csv += "\r\n";
    for (const FileOutcome& row : m_rows)
    {
        for (const Column& column : kColumns)
            csv += (&column == kColumns ? "" : ",") + csvField(column.of(row));
        csv += "\r\n";
    }
    return csv;
}

std::string BatchReport::Text() const
{
    std::string text = "Korva report: " + std::to_string(m_rows.size()) +
                       (m_rows.size() == 1 ? " file\n" : " files\n");
    const auto line = [&text](std::string label, const std::string& value)
    {
        label += ':';
        label.resize(std::max<std::size_t>(label.size(), 13), ' ');
        text += "  " + label + korva::Escaped(value) + '\n';
    };
    for (const FileOutcome& row : m_rows)
    {
        text += '\n' + korva::Escaped(fs::path(row.sourcePath).filename().string()) + '\n';
        for (const Column& column : kColumns)
        {
            if (column.name == std::string_view("warnings"))
                for (const std::string& warning : row.warnings)
                    line("warning", warning);
            else if (const std::string value = column.of(row); !value.empty())
                line(column.name, value);
        }
    }
    return text;
}

std::optional<std::string> BatchReport::Write(const fs::path& path) const
{
    const auto failed = [&](const std::string& why)
    { return "the report could not be written to " + path.string() + ": " + why; };
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return failed("its folder " + folder.string() + " does not exist");
    if (fs::is_directory(path, ec))
        return failed("a folder of that name stands there");
    TemporaryCopy file(folder, 0666, ec);
    if (ec)
        return failed(korva::SystemErrorWords(ec.value()));
    const std::string bytes = endsInTxt(path) ? Text() : Csv();
    if (!riff::WriteAt(file.fd(), 0, bytes.data(), bytes.size()))
        return failed(korva::SystemErrorWords(errno));
    if (!file.Publish(path, true, ec))
        return failed(korva::SystemErrorWords(ec.value()));
    return std::nullopt;
}
