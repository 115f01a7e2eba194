#pragma once

#include "PlatformServices.h"
#include "QtAudioOutput.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class Dialogs;

// The platform services on Qt: the panels and the alert through a Dialogs
// strategy, the beep, the log (standard error only: the window shows each
// file's outcome instead), the per-user settings in QSettings ("Korva",
// "Korva"), the threads and the sound output (QtAudioOutput).
//
// The object lives on the interface thread. Calls from the batch worker are
// carried over to it: the alert waits for the answer; the beep, the reports
// and the work posted wait in one queue, in the order they were made, which
// the interface thread works off at most every 50 ms: of the progress and the
// status it shows only the latest, and the files' lines reach the activity
// pane together, so that a batch of thousands of small files costs the window
// a few dozen updates a second, not thousands. The worker waits while the
// queue is full, so that it never runs far ahead of the window.
// The window learns of them through the signals below, always on the interface
// thread. Destroy it only when no batch runs.
class QtPlatform : public QObject, public korva::PlatformServices
{
    Q_OBJECT

public:
    // dialogs must outlive this object; window is the parent of the panels.
    QtPlatform(Dialogs& dialogs, QWidget* window);
    ~QtPlatform() override;

    // The next open panel is not shown: it answers as if the user had chosen
    // paths and confirmed (the files dropped on the window).
    void answerNextOpenPanel(std::vector<std::string> paths);

    std::optional<std::vector<std::string>>
    runOpenPanel(const korva::OpenPanelOptions& options) override;
    std::optional<std::string> runSavePanel(const korva::SavePanelOptions& options) override;
    int runAlertPanel(const std::string& title, const std::string& message,
                      const std::vector<std::string>& buttons) override;
    void beep() override;
    // Writes "<date time> korva[pid] <line>" to standard error at once.
    void log(const std::string& line) override;

    bool hasDefault(const std::string& key) const override;
    int integerForKey(const std::string& key) const override;
    void setIntegerForKey(const std::string& key, int nValue) override;
    std::string stringForKey(const std::string& key) const override;
    void setStringForKey(const std::string& key, const std::string& value) override;

    void detachThread(std::function<void()> work) override;
    void runOnInterfaceThread(std::function<void()> work) override;
    korva::AudioOutput& audioOutput() override { return m_audio; }
    // Ends the main loop, which closes the window.
    void terminate() override;
    void openFolder(const std::string& path) override;
    // terminate has been called: the application is ending.
    bool isTerminating() const { return m_bTerminating; }

    void reportProgress(double progressValue) override;
    void reportStatus(const std::string& text) override;
    void reportFileOutcome(int row, const korva::FileOutcome& outcome) override;

    // An outcome's detail and its warnings, as the window shows them:
    // "<detail> — warning: written as 44100 Hz; iXML says 48000 Hz".
    static QString detailOf(const korva::FileOutcome& outcome);

signals:
    void beeped();
    void progressReported(double progressValue);
    void statusReported(const QString& text);
    // Lines for the activity pane, one per file, '\n' between them:
    // "[repaired] take1.wav: <detailOf>".
    void fileReported(const QString& lines);
    // A file's outcome for the row it had in the file table when the batch started.
    void outcomeReported(int row, const korva::FileOutcome& outcome);

private:
    // What waits in the queue for the interface thread.
    struct Queued
    {
        enum class Kind
        {
            Work, // posted work, a beep
            Progress,
            Status,
            Outcome,
        };
        Kind kind;
        std::function<void()> work; // Work, Progress, Status
        int row = -1;               // Outcome
        korva::FileOutcome outcome = {};
    };
    // Queues item for the interface thread, behind what was queued before; a
    // caller on another thread first waits while the queue is full.
    void post(Queued item);
    // Works off what the queue holds, in its order, on the interface thread.
    void deliver();
    // Has deliver run 50 ms after the last delivery, or at once when that is past.
    void scheduleDelivery();
    // Runs work at once on the interface thread, behind what is queued;
    // otherwise queues it.
    void carry(Queued item);

    Dialogs& m_dialogs;
    QPointer<QWidget> m_window;
    QSettings m_settings;
    std::optional<std::vector<std::string>> m_droppedPaths;
    // The threads detached, each with the flag it raises as its work returns:
    // those whose flag is up are joined at the next detachThread, never
    // waiting on the interface thread; the rest when the platform goes.
    struct Detached
    {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> bDone;
    };
    std::vector<Detached> m_threads;
    QtAudioOutput m_audio;
    bool m_bTerminating = false;
    std::mutex m_queueMutex;
    std::condition_variable m_queueRoom;
    std::deque<Queued> m_queue;
    int m_nProgressQueued = 0, m_nStatusQueued = 0; // of them, not yet shown
    bool m_bDeliveryDue = false;                    // the interface thread is to work the queue off
    QTimer m_deliveryTimer;                         // single shot, 50 ms after the last delivery
    QElapsedTimer m_sinceDelivery;
};
