#pragma once

#include "PlatformServices.h"
#include "RepairJob.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

// The one controller behind the application's window: it holds the window's
// state, answers the window's actions and runs a batch of repairs on a worker
// thread. A front end creates it, connects the outlets (the public pointers
// below), calls awakeFromNib, and then sends the actions.
//
// Threads: every public operation is for the interface thread, except
// startpatching, patchFile, deleteFile and copyFile, which the batch runs on its
// worker, and OnCancel, isPatching and progressValue, which any thread may call.
// A batch ends with work posted to the interface thread: the controller must
// outlive that work. While a batch runs the lists and the destination do not
// change (the choosers are disabled); a front end must not call the choosers
// then.
class AppController : public korva::TableDataSource
{
public:
    // The controller's state, with the saved settings read from the platform's
    // store (on first run the defaults 0 and 1 are stored). Touches no outlet.
    explicit AppController(korva::PlatformServices& platform);
    AppController(const AppController&) = delete;
    AppController& operator=(const AppController&) = delete;

    // --- Start and stop ---------------------------------------------------
    // Needs the outlets connected: makes the controller the table's data
    // source, gives the sample-rate pop-up its items "96 kHz" and "128 kHz"
    // behind the window's three, the resolution pop-up exactly "16 bit" and
    // "24 bit", and selects the saved indexes.
    void awakeFromNib();
    // While a batch runs: a beep and nothing else. Otherwise stores the two
    // pop-up selections as "SampleRate" and "Resolution" and ends the
    // application.
    void terminate();
    // The Quit item is enabled exactly while no batch runs; other items are.
    bool validateMenuItem(const korva::MenuItem& item) const;

    // --- Choosing ---------------------------------------------------------
    // The file chooser: a confirmed selection replaces the list with its
    // ".wav" files (any letter case), in the panel's order; then the start
    // control is enabled exactly when a destination is set and differs from
    // the folder of the last listed file.
    void GetFilesForFixin();
    // The destination chooser (one folder), remembered for the next start:
    // then the start control is enabled exactly when files are listed, a
    // destination is set, and the two folders differ as strings.
    void SetPath();
    void showDestPathText();
    void showSourceText();

    // The file table: "FileName" and "FilePath" columns, "" for any other.
    int numberOfRowsInTableView(const korva::TableView& table) const override;
    std::string objectValueForTableColumn(const korva::TableView& table,
                                          std::string_view columnIdentifier,
                                          int row) const override;

    // --- The batch --------------------------------------------------------
    // Disables the choosers, pop-ups, start control and Quit item, retitles the
    // quit button "Cancel", reports the listed sources that are gone or cannot
    // be read (they are left out) and starts the worker; with an empty list it
    // restores the controls at once and sets the status text instead.
    void DoPatch();
    // Detaches the worker thread that runs startpatching.
    void threadedFunction();
    // The worker: each listed file in row order, progress after each, until
    // the end, a file that stops the batch or a stop request; the files never
    // reached are reported as not processed, a summary line closes the batch,
    // then the window is reset on the interface thread (flags cleared first,
    // list emptied, table reloaded, controls restored).
    void startpatching();
    // Asks a running batch to stop after the current file; no effect otherwise.
    void OnCancel();

    // The per-file job for row, with the format the pop-ups show now: the
    // shared RepairJob copies and repairs the file, asking before it replaces
    // one in the destination. False when the batch must stop: the user
    // answered No, or the file could not be copied. Its outcome is reported.
    bool patchFile(int row);
    // Removes the item at path; false (with the error logged) when it fails.
    bool deleteFile(const std::string& path);
    // Copies source to a destination where nothing exists yet; false (with
    // the error logged) when it fails.
    bool copyFile(const std::string& source, const std::string& destination);

    // --- State a window may show ------------------------------------------
    bool isPatching() const { return m_bPatching; }
    double progressValue() const { return m_progressValue; }
    const std::string& progressText() const { return szProgress; }
    const std::string& destinationPath() const { return szDestPath; }
    uint32_t sampleRateHz() const { return m_SampleRate; }
    uint16_t bitsPerSample() const { return m_Resolution; }
    // The status line for the state the window is in: what to do next, why
    // Start is off, or how far a batch is. Interface thread.
    std::string statusText() const;

    // --- Outlets: connected by the front end before awakeFromNib ----------
    korva::Control* ChangeCancelState = nullptr;        // reserved
    korva::Control* ChangeGoState = nullptr;            // the start control (DoPatch)
    korva::Control* ChangeQuitState = nullptr;          // reserved
    korva::Control* ChangeBrowseState = nullptr;        // opens the destination chooser
    korva::Control* ChangeSelButtonState = nullptr;     // opens the file chooser
    korva::Control* ChangeSRState = nullptr;            // the sample-rate selection
    korva::Control* ChangeResState = nullptr;           // the resolution selection
    korva::MenuItem* ChangeQuitMenuItemState = nullptr; // the application menu's Quit
    korva::Control* SelectFilesButton = nullptr;        // reserved
    korva::TextView* PathTextCtrl = nullptr;            // shows the destination folder
    korva::TableView* tableview1 = nullptr;             // the file table
    korva::PopUpButton* sampleRate = nullptr;
    korva::PopUpButton* resolution = nullptr;
    korva::Button* QuitButton = nullptr; // "Quit", or "Cancel" during a batch

private:
    void applyStartRule(bool bSideSet);
    void setBatchControlsEnabled(bool bEnabled);
    void finishBatch();
    void readSettings();
    void readPopUps();
    void reportUnreadableSources();
    void reportOutcome(int row, const korva::FileOutcome& outcome);
    void reportStatus();
    RepairJob::Answer askToOverwrite(const std::string& name);

    bool m_bDestinationSet = false;
    bool m_bSourceSet = false;
    // Read by the interface thread while the worker clears them.
    std::atomic<bool> m_bPatching = false;
    std::atomic<bool> m_bCancel = false;
    bool m_bReleaseArray = false; // reserved
    // Written by the worker; a window may poll it from the interface thread.
    std::atomic<double> m_progressValue = 0.0;
    uint32_t m_SampleRate = 44100;
    uint16_t m_Resolution = 24;
    int32_t SampleRateIndex = 0;
    int32_t ResolutionIndex = 1;
    std::string szPath; // reserved: shown by showSourceText, never filled
    std::string szDestPath;
    std::string szSourcePath;
    std::string szProgress;
    std::vector<std::string> fileArray;
    std::vector<std::string> pathArray;

    // The batch that runs: its job, the rows left out before it started, and
    // how many files came to each kind of outcome (worker only, until the end).
    std::unique_ptr<RepairJob> m_job;
    std::set<int> m_unreadableRows;
    std::vector<int> m_kindCounts;
    std::atomic<int> m_nCurrentRow = -1;

    korva::PlatformServices& m_platform;
};
