#pragma once

#include "PlatformServices.h"
#include "RepairJob.h"
#include "TakeList.h"
#include "TakeOverview.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The one controller behind the application's window: it holds the window's
// state, answers the window's actions and runs a batch of repairs on a worker
// thread. A front end creates it, connects the outlets (the public pointers
// below), calls awakeFromNib, and then sends the actions.
//
// The format each listed file gets comes from the three pop-ups: a sample
// rate, a resolution and a channel count, each a value or "From the file"
// (the file's own evidence settles it). Before a batch the table shows, per
// file, what the repair will write and where it came from, or why it will
// write nothing.
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
    // store (on first run the defaults 0, 1 and 0 are stored). Touches no outlet.
    explicit AppController(korva::PlatformServices& platform);
    // Stops what plays; overviews still being read are dropped.
    ~AppController() override;
    AppController(const AppController&) = delete;
    AppController& operator=(const AppController&) = delete;

    // --- Start and stop ---------------------------------------------------
    // Needs the outlets connected: makes the controller the table's data
    // source, gives each pop-up its items (whatever it held before goes) and
    // selects the saved indexes; an index that names no item selects none and
    // keeps the value as it was (44100 Hz, 24 bit, mono at first).
    // (ascending; a stored index keeps the value it was saved for):
    //   sample rate: 32, 44.1, 47.952, 48, 48.048, 88.2, 96, 128, 176.4, 192,
    //                352.8 and 384 kHz, From the file
    //   resolution:  8, 16, 24, 32 bit, 32 and 64 bit float, From the file
    //   channels:    Mono, Stereo, 3 to 64 channels, From the file
    void awakeFromNib();
    // While a batch runs: a beep, and the status line says so ("A batch is
    // running: Cancel stops it after the current file") until the batch
    // stops. Otherwise stores the three pop-up selections as "SampleRate",
    // "Resolution" and "Channels" and ends the application.
    void terminate();
    // The Quit item is enabled exactly while no batch runs, the Cancel item
    // exactly while one runs; other items are.
    bool validateMenuItem(const korva::MenuItem& item) const;

    // --- Choosing ---------------------------------------------------------
    // The file chooser (files and folders): a confirmed selection replaces the
    // list with its ".wav" files (any letter case), in the panel's order, and
    // the takes in its folders (walked as TakeList says); then the start
    // control is enabled exactly when a destination is set that no take comes
    // from and no folder chosen holds.
    void GetFilesForFixin();
    // The folder chooser: one folder, a card or part of one, listed as the
    // file chooser lists a folder among its files.
    void GetFolderForFixin();
    // The destination chooser (one folder), opened at the last destination
    // while it is there and no take comes from it, else at the home folder;
    // remembered for the next start:
    // then the start control follows the file chooser's rule.
    void SetPath();
    // A destination typed or pasted into the destination field (blanks
    // around it go): taken as a chosen one, and remembered once it is a
    // folder. Start stays off, the status line saying why, while it is no
    // full path, no folder, or a folder the chooser's rule refuses.
    void SetTypedPath(const std::string& text);
    // Shows the destination folder in the desktop's file manager; one that
    // is gone the status line names instead.
    void OpenDestination();
    // After a batch: the save panel (at the destination, proposing "Korva
    // report.csv"), then the batch's report written where the user chose, as
    // CSV or, for a name ending in .txt, as text. The status line says where
    // it went; an alert says why it could not be written.
    void ExportReport();
    // After a batch: the rows that failed or were not processed run again,
    // into the destination as it is now and with the pop-ups as they are now;
    // the other rows and their outcomes stay as they are.
    void Retry();
    void showDestPathText();
    void showSourceText();
    // A pop-up's selection changed: the format column follows it, and so do
    // the duration, the levels and the waveform of every row the change
    // touches (what plays stops). Ignored while a batch runs.
    void popUpChanged();

    // --- Listening --------------------------------------------------------
    // The table's selected row changed (-1: none): the play control follows.
    void selectionChanged(int row);
    // The play control and the space bar: stops the take that plays, or else
    // plays the selected row's take from its start, read as its Format
    // column says.
    void PlayOrStop();
    // A click in row's waveform, position (0 .. 1) along it: plays the take
    // from the frame at that point, whatever played before stopping.
    void playFrom(int row, double position);

    // The file table: "FileName" (the take's path under the destination,
    // its name for the files of one folder), "FilePath" (the folder it comes
    // from), "Size" (the file's, "26.2 MB") and "Format" columns, and under
    // the format the Format column names: "Duration" ("0:01:23.456"), "Peak"
    // and "RMS" (the loudest channel's, "-3.1 dBFS"; each channel's in the
    // tooltip, and that the levels were sampled when they were) and the
    // "Waveform" (each channel a lane, min/max envelope), "" for any other.
    // The levels and the waveform come from a background thread: the
    // waveform cell reads "reading…" until they are in. A row the job would
    // fail or leave alone shows why in its waveform cell instead. The format is the one the repair
    // will write, as the file stood when it was listed or a pop-up last changed: "48000 Hz, 24 bit,
    // stereo (rate from iXML; depth from the audio; channels from the audio)", "has its own format
    // chunk", "no bext chunk: left as it is", or why the file will fail ("cannot tell the sample
    // rate: …; choose the sample rate in the Sample rate pop-up"); any warning follows (" —
    // warning: …").
    int numberOfRowsInTableView(const korva::TableView& table) const override;
    std::string objectValueForTableColumn(const korva::TableView& table,
                                          std::string_view columnIdentifier,
                                          int row) const override;
    std::string toolTipForTableColumn(const korva::TableView& table,
                                      std::string_view columnIdentifier, int row) const override;
    std::shared_ptr<const korva::Waveform> waveformForTableColumn(const korva::TableView& table,
                                                                  std::string_view columnIdentifier,
                                                                  int row) const override;
    // The columns of a row's waveform, however wide the cell draws it.
    static constexpr std::size_t kWaveformColumns = 320;

    // --- The batch --------------------------------------------------------
    // Disables the choosers, pop-ups, start control and Quit item, retitles the
    // quit button "Cancel" and starts the worker; with an empty list it
    // restores the controls at once and sets the status text instead.
    void DoPatch();
    // Detaches the worker thread that runs startpatching.
    void threadedFunction();
    // The worker: first the listed sources that are gone or cannot be read
    // are reported (they are left out), and the temporary files interrupted
    // runs left in the destination go, then each listed file in row order, progress after
    // each (and within a large one, every RepairJob::kProgressStep bytes of
    // its copy), until the end, a file that stops the batch or a stop request; the
    // files never reached are reported as not processed, the destination is
    // flushed to its disk, a summary line closes the batch (with the
    // leftovers removed and a flush that failed), then the window is reset on
    // the interface thread (flags cleared first, list emptied, table reloaded,
    // controls restored).
    void startpatching();
    // Asks a running batch to stop after the current file; no effect otherwise.
    void OnCancel();

    // The per-file job for row, with the format the pop-ups showed at Start:
    // the shared RepairJob copies and repairs the file, asking before it
    // replaces one in the destination. False when the batch must stop: the user
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
    // The status line for the state the window is in: what to do next, why
    // Start is off, how many listed files say another format than the one
    // chosen, or how far a batch is ("Repairing NAME (2 of 9)…", for a large
    // file "Copying NAME: 1.2 of 4.0 GB (2 of 9)…"). Interface thread, and the
    // batch's worker while it runs.
    std::string statusText() const;

    // --- Outlets: connected by the front end before awakeFromNib ----------
    korva::Control* ChangeCancelState = nullptr;    // reserved
    korva::Control* ChangeGoState = nullptr;        // the start control (DoPatch)
    korva::Control* ChangeQuitState = nullptr;      // reserved
    korva::Control* ChangeBrowseState = nullptr;    // opens the destination chooser
    korva::Control* ChangeSelButtonState = nullptr; // opens the file chooser
    korva::Control* ChangeSelFolderState = nullptr; // opens the folder chooser
    korva::Control* OpenDestinationState = nullptr; // enabled while a destination is set
    korva::Control* ExportReportState = nullptr;    // enabled from a batch's end to the next start
    korva::Control* RetryState = nullptr;     // enabled after a batch with rows to run again, until
                                              // the next batch or choice of files
    korva::Control* ChangeSRState = nullptr;  // the sample-rate selection
    korva::Control* ChangeResState = nullptr; // the resolution selection
    korva::MenuItem* ChangeQuitMenuItemState = nullptr; // the application menu's Quit
    korva::Control* SelectFilesButton = nullptr;        // reserved
    korva::TextView* PathTextCtrl = nullptr;            // shows the destination folder
    korva::TableView* tableview1 = nullptr;             // the file table
    korva::PopUpButton* sampleRate = nullptr;
    korva::PopUpButton* resolution = nullptr;
    korva::PopUpButton* channels = nullptr; // enabled, like the others, while no batch runs
    korva::Button* QuitButton = nullptr;    // "Quit", or "Cancel" during a batch
    korva::Button* PlayButton = nullptr;    // "Play", or "Stop" while a take plays (PlayOrStop)

private:
    void listSources(const korva::OpenPanelOptions& options);
    void applyStartRule(bool bSideSet);
    std::string destinationRefusal() const;
    void startBatch();
    void setBatchControlsEnabled(bool bEnabled);
    void finishBatch();
    void readSettings();
    void readPopUps();
    void applyIndexes();
    void previewFormats();
    void reportUnreadableSources();
    const TakeList::Take& takeAt(int row) const;
    void reportOutcome(int row, const korva::FileOutcome& outcome);
    void reportStatus();
    RepairJob::Answer askToOverwrite(const RepairJob::Question& question);
    struct OverviewPass;
    void readOverviews();
    void showOverview(const std::shared_ptr<OverviewPass>& pass, std::size_t row,
                      TakeOverview overview);
    void dropOverviews();
    void play(int row, uint64_t nFromFrame);
    void stopPlaying();
    void showPlayControl();

    bool m_bDestinationSet = false;
    // Read by the interface thread while the worker clears them.
    std::atomic<bool> m_bPatching = false;
    std::atomic<bool> m_bCancel = false;
    bool m_bQuitRefused = false; // a quit asked for during the batch that runs
    // Written by the worker; a window may poll it from the interface thread.
    std::atomic<double> m_progressValue = 0.0;
    // The pop-ups' selected indexes, and the choice they make for the jobs.
    int32_t SampleRateIndex = 0;
    int32_t ResolutionIndex = 1;
    int32_t ChannelsIndex = 0;
    FormatChoice m_choice;
    std::string szPath; // reserved: shown by showSourceText, never filled
    std::string szDestPath;
    std::string szProgress;
    TakeList m_list; // the rows: each take, and its place under the destination
    std::vector<std::string> formatArray; // the Format column, row by row
    std::size_t m_nContradicted = 0;      // rows whose metadata names another format
    // What the table shows of each row's audio, row by row with formatArray.
    struct Look
    {
        std::optional<RepairJob::Preview::Audio> audio; // none: why says why
        std::string why;
        std::optional<uint64_t> nFileBytes;
        std::optional<TakeOverview> overview; // its envelope moved into waveform
        std::shared_ptr<const korva::Waveform> waveform;
    };
    std::vector<Look> m_looks;
    // The overviews being read for the rows as they are now; a change of list
    // or of format marks it stale, and what it still brings is dropped.
    std::shared_ptr<OverviewPass> m_overviews;
    int m_nSelectedRow = -1;
    int m_nPlayingRow = -1;

    // The batch that runs: its job, the rows left out before it started, and
    // how many files came to each kind of outcome (worker only, until the end).
    std::unique_ptr<RepairJob> m_job;
    std::set<int> m_rowsLeftOut; // unreadable, or done with before a retry
    std::vector<int> m_kindCounts;
    // The last batch's rows and each one's outcome, for its report and a retry
    // (the outcomes are the worker's until the batch ends).
    TakeList m_lastList;
    std::vector<korva::FileOutcome> m_outcomes;
    std::atomic<int> m_nCurrentRow = -1;
    // How far the current file's copy is, once it has told (total 0 before).
    std::atomic<uint64_t> m_nBytesDone = 0, m_nBytesTotal = 0;
    // What the batch's worker found at its start and its end, for the summary.
    std::size_t m_nLeftovers = 0;
    std::optional<std::string> m_flushProblem;

    korva::PlatformServices& m_platform;
};
