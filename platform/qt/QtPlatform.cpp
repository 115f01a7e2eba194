#include "QtPlatform.h"

#include "Dialogs.h"
#include "FormatChoice.h"
#include "InterfaceThread.h"

#include <QApplication>
#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace
{
// Some thousand reports: the window works them off in a few milliseconds, and
// the worker is never held up by a window that keeps up; a few hundred go at
// a time, so that the window answers in between.
constexpr std::size_t kMostQueued = 1024;
constexpr std::size_t kMostDelivered = kMostQueued / 4;

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
    m_deliveryTimer.setSingleShot(true);
    connect(&m_deliveryTimer, &QTimer::timeout, this, &QtPlatform::deliver);
    m_sinceDelivery.start();
}

QtPlatform::~QtPlatform()
{
    for (Detached& detached : m_threads)
        detached.thread.join();
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
    // What was reported before the question is on show when it is asked.
    return interface_thread::callAndWait(this,
                                         [&]
                                         {
                                             deliver();
                                             return m_dialogs.alert(m_window, title, message,
                                                                    buttons);
                                         });
}

void QtPlatform::post(Queued item)
{
    bool bSchedule = false, bUrgent = false;
    {
        std::unique_lock lock(m_queueMutex);
        if (!interface_thread::isCurrent(this))
            m_queueRoom.wait(lock, [this] { return m_queue.size() < kMostQueued; });
        m_nProgressQueued += item.kind == Queued::Kind::Progress ? 1 : 0;
        m_nStatusQueued += item.kind == Queued::Kind::Status ? 1 : 0;
        m_queue.push_back(std::move(item));
        bSchedule = !std::exchange(m_bDeliveryDue, true);
        // A queue filling faster than every 50 ms is worked off at once, a
        // few hundred reports at a time, so that no delivery holds the window.
        bUrgent = m_queue.size() == kMostDelivered;
    }
    // What the interface thread posts itself answers the user: it comes at
    // the loop's next turn.
    if (interface_thread::isCurrent(this) || bUrgent)
        QMetaObject::invokeMethod(this, &QtPlatform::deliver, Qt::QueuedConnection);
    else if (bSchedule)
        QMetaObject::invokeMethod(this, &QtPlatform::scheduleDelivery, Qt::QueuedConnection);
}

void QtPlatform::scheduleDelivery()
{
    {
        const std::lock_guard lock(m_queueMutex);
        m_bDeliveryDue = true;
    }
    constexpr qint64 kDeliveryMs = 50;
    m_deliveryTimer.start(
        static_cast<int>(std::max<qint64>(0, kDeliveryMs - m_sinceDelivery.elapsed())));
}

void QtPlatform::deliver()
{
    m_sinceDelivery.restart();
    // The lines of files reported one after another go to the pane at once.
    QStringList lines;
    const auto showLines = [&]
    {
        if (!lines.isEmpty())
            emit fileReported(lines.join(QLatin1Char('\n')));
        lines.clear();
    };
    // What was queued by now, and no more: a worker that queues as fast as
    // the window shows would keep it here.
    std::size_t nLeft = 0;
    {
        const std::lock_guard lock(m_queueMutex);
        nLeft = std::min(m_queue.size(), kMostDelivered);
    }
    for (; nLeft > 0; --nLeft)
    {
        std::unique_lock lock(m_queueMutex);
        if (m_queue.empty())
            break;
        Queued item = std::move(m_queue.front());
        m_queue.pop_front();
        // A progress or status with a later one behind it would be shown only
        // to be replaced.
        const bool bSuperseded = item.kind == Queued::Kind::Progress ? --m_nProgressQueued > 0
                                 : item.kind == Queued::Kind::Status ? --m_nStatusQueued > 0
                                                                     : false;
        lock.unlock();
        m_queueRoom.notify_one();
        if (item.kind == Queued::Kind::Outcome)
        {
            lines.push_back(describe(item.outcome));
            emit outcomeReported(item.row, item.outcome);
            continue;
        }
        showLines();
        if (!bSuperseded)
            item.work();
    }
    showLines();
    // Anything queued meanwhile comes with the next delivery.
    std::unique_lock lock(m_queueMutex);
    m_bDeliveryDue = false;
    const std::size_t nMore = m_queue.size();
    lock.unlock();
    if (nMore >= kMostDelivered)
        QMetaObject::invokeMethod(this, &QtPlatform::deliver, Qt::QueuedConnection);
    else if (nMore > 0)
        scheduleDelivery();
}

void QtPlatform::carry(Queued item)
{
    if (!interface_thread::isCurrent(this))
        return post(std::move(item));
    deliver();
    if (item.kind != Queued::Kind::Outcome)
        return item.work();
    emit fileReported(describe(item.outcome));
    emit outcomeReported(item.row, item.outcome);
}

void QtPlatform::beep()
{
    carry({Queued::Kind::Work, [this]
           {
               QApplication::beep();
               emit beeped();
           }});
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
    std::erase_if(m_threads,
                  [](Detached& detached)
                  {
                      if (!*detached.bDone)
                          return false;
                      detached.thread.join();
                      return true;
                  });
    auto bDone = std::make_shared<std::atomic<bool>>(false);
    m_threads.push_back({std::thread(
                             [work = std::move(work), bDone]
                             {
                                 work();
                                 *bDone = true;
                             }),
                         bDone});
}

void QtPlatform::runOnInterfaceThread(std::function<void()> work)
{
    post({Queued::Kind::Work, std::move(work)});
}

void QtPlatform::terminate()
{
    m_bTerminating = true;
    QCoreApplication::quit();
}

void QtPlatform::reportProgress(double progressValue)
{
    carry(
        {Queued::Kind::Progress, [this, progressValue] { emit progressReported(progressValue); }});
}

void QtPlatform::reportStatus(const std::string& text)
{
    carry({Queued::Kind::Status,
           [this, status = QString::fromStdString(text)] { emit statusReported(status); }});
}

QString QtPlatform::detailOf(const korva::FileOutcome& outcome)
{
    return QString::fromStdString(FormatChoice::WithWarnings(outcome.detail, outcome.warnings));
}

void QtPlatform::reportFileOutcome(int row, const korva::FileOutcome& outcome)
{
    carry({Queued::Kind::Outcome, nullptr, row, outcome});
}

void QtPlatform::openFolder(const std::string& path)
{
    m_dialogs.showFolder(path);
}
