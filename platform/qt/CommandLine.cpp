#include "CommandLine.h"

#include "KorvaVersion.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

CommandLine::CommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    // Qt's own options are single-dash words (-platform), never bundled letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Repairs Broadcast Wave files that lost their format chunk, in a window.\n"
                       "Qt's own options (-platform NAME, -style NAME, …) are taken too."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Print the version and the copyright."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Print this help."));
    parser.addOption(version);
    parser.addOption(help);
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("A damaged WAV file, or a card's folder, to list at start."),
        QStringLiteral("[FILE…]"));
    if (!parser.parse(arguments))
        m_error = parser.errorText();

    if (parser.isSet(version))
        m_answer = QStringLiteral("korva %1\n%2\n%3\n")
                       .arg(QLatin1String(korva::kVersion), QLatin1String(korva::kCopyright),
                            QLatin1String(korva::kLicenceSummary));
    else if (parser.isSet(help))
        // Without a QCoreApplication the parser cannot name the program.
        m_answer = QStringLiteral("Usage: korva [options] [FILE…]\n") +
                   parser.helpText().section(QLatin1Char('\n'), 1);
    for (const QString& file : parser.positionalArguments())
        // Clean, so that the start rule compares the folders the user means.
        m_files.push_back(QDir::cleanPath(QFileInfo(file).absoluteFilePath()).toStdString());
}
