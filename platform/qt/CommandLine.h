#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

// korva's command line: korva [--version | --help] [FILE…]. Qt's own options
// (-platform NAME, -style NAME, …) are taken out of it by QApplication.
class CommandLine
{
public:
    // arguments: as the program got them, its name first.
    explicit CommandLine(const QStringList& arguments);

    // What --version or --help asks to print on standard output, empty when
    // neither was given. Either one wins over anything else on the line, so
    // that it is answered before QApplication starts (and needs a display).
    const QString& answer() const { return m_answer; }
    // Why the arguments cannot be taken ("Unknown option 'x'."), empty when
    // they can. Only meaningful once Qt has taken out its own options.
    const QString& error() const { return m_error; }
    // The FILE arguments as absolute paths (a relative one is taken from the
    // current folder), in the order given: the files to list at start.
    const std::vector<std::string>& files() const { return m_files; }

private:
    QString m_answer;
    QString m_error;
    std::vector<std::string> m_files;
};
