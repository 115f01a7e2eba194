#include "QtPlatform.h"

#include "Dialogs.h"
#include "FormatChoice.h"
#include "InterfaceThread.h"

#include <QApplication>
#include <QDateTime>
#include <QFileInfo>

#include <cstdio>

namespace
{
// The activity pane's line for one file: "[repaired] take1.wav: <what was done>".
QString describe(const korva::FileOutcome& outcome)
{
    return QStringLiteral("[%1] %2: %3")
        .arg(QLatin1String(korva::KindWord(outcome.kind)),
             QFileInfo(QString::fromStdString(outcome.sourcePath)).fileName(),
             QtPlatform::detailOf(outcome));
}
} // namespace

QtPlatform::QtPlatform(Dialogs& dialogs, QWidget* window)
    : m_dialogs(dialogs), m_window(window),
      m_settings(QStringLiteral("Korva"), QStringLiteral("Korva"))
{
}

QtPlatform::~QtPlatform()
{
    if (m_worker.joinable())
        m_worker.join();
}

void QtPlatform::answerNextOpenPanel(std::vector<std::string> paths)
{
    m_droppedPaths = std::move(paths);
}

std::optional<std::vector<std::string>>
QtPlatform::runOpenPanel(const korva::OpenPanelOptions& options)
{
    if (m_droppedPaths)
        return std::exchange(m_droppedPaths, std::nullopt);
    return m_dialogs.openPanel(m_window, options);
}

std::optional<std::string> QtPlatform::runSavePanel(const korva::SavePanelOptions& options)
{
    return m_dialogs.savePanel(m_window, options);
}

int QtPlatform::runAlertPanel(const std::string& title, const std::string& message,
                              const std::vector<std::string>& buttons)
{
    return interface_thread::callAndWait(
        this, [&] { return m_dialogs.alert(m_window, title, message, buttons); });
}

void QtPlatform::post(std::function<void()> work)
{
    // Some dozens of files' reports: the window works them off in a few
    // milliseconds, and the worker is never held up by a window that keeps up.
    constexpr int kMostQueued = 64;
    {
        std::unique_lock lock(m_queueMutex);
        if (!interface_thread::isCurrent(this))
            m_queueRoom.wait(lock, [this] { return m_nQueued < kMostQueued; });
        ++m_nQueued;
    }
    QMetaObject::invokeMethod(
        this,
        [this, work = std::move(work)]
        {
            {
                const std::lock_guard lock(m_queueMutex);
                --m_nQueued;
            }
            m_queueRoom.notify_one();
            work();
        },
        Qt::QueuedConnection);
}

void QtPlatform::carry(std::function<void()> work)
{
    if (interface_thread::isCurrent(this))
        work();
    else
        post(std::move(work));
}

void QtPlatform::beep()
{
    carry(
        [this]
        {
            QApplication::beep();
            emit beeped();
        });
}

void QtPlatform::log(const std::string& line)
{
    const QByteArray stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8();
    // One write per line, so that lines from two threads never interleave.
    std::fprintf(stderr, "%s korva[%lld] %s\n", stamp.constData(),
                 static_cast<long long>(QCoreApplication::applicationPid()), line.c_str());
}

bool QtPlatform::hasDefault(const std::string& key) const
{
    return m_settings.contains(QString::fromStdString(key));
}

int QtPlatform::integerForKey(const std::string& key) const
{
    return m_settings.value(QString::fromStdString(key), 0).toInt();
}

void QtPlatform::setIntegerForKey(const std::string& key, int nValue)
{
    m_settings.setValue(QString::fromStdString(key), nValue);
    m_settings.sync();
}

std::string QtPlatform::stringForKey(const std::string& key) const
{
    return m_settings.value(QString::fromStdString(key)).toString().toStdString();
}

void QtPlatform::setStringForKey(const std::string& key, const std::string& value)
{
    m_settings.setValue(QString::fromStdString(key), QString::fromStdString(value));
    m_settings.sync();
}

void QtPlatform::detachThread(std::function<void()> work)
{
    if (m_worker.joinable())
        m_worker.join();
    m_worker = std::thread(std::move(work));
}

void QtPlatform::runOnInterfaceThread(std::function<void()> work)
{
    post(std::move(work));
}

void QtPlatform::terminate()
{
    m_bTerminating = true;
    QCoreApplication::quit();
}

void QtPlatform::reportProgress(double progressValue)
{
    carry([this, progressValue] { emit progressReported(progressValue); });
}

void QtPlatform::reportStatus(const std::string& text)
{
    carry([this, status = QString::fromStdString(text)] { emit statusReported(status); });
}

QString QtPlatform::detailOf(const korva::FileOutcome& outcome)
{
    return QString::fromStdString(FormatChoice::WithWarnings(outcome.detail, outcome.warnings));
}

void QtPlatform::reportFileOutcome(int row, const korva::FileOutcome& outcome)
{
    carry(
        [this, row, outcome]
        {
            emit fileReported(describe(outcome));
            emit outcomeReported(row, outcome);
        });
}

void QtPlatform::openFolder(const std::string& path)
{
    m_dialogs.showFolder(path);
}
