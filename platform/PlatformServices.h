#pragma once

#include "FileOutcome.h"
#include "TakeOverview.h"
#include "WavFormat.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The services the application controller takes from the platform it runs on:
// the window's controls, the modal panels, the beep, the log, the per-user
// settings and the threads. A desktop window and a command line each implement
// them; the controller knows nothing else of either.
//
// Threads. The controller calls everything from the interface thread (the
// thread that runs the main loop and sends the actions) EXCEPT the calls marked
// "worker thread allowed": those also come from the one batch worker thread,
// and an implementation whose controls live on one thread must carry them over
// to it (blocking where an answer is needed). The controls themselves are
// touched from the worker only through PopUpButton::indexOfSelectedItem; every
// other control call comes from the interface thread.
namespace korva
{

// Anything whose enabled state the controller switches.
class Control
{
public:
    virtual ~Control() = default;
    // The control (or menu item) is enabled or disabled at once.
    virtual void setEnabled(bool bEnabled) = 0;
};

class Button : public Control
{
public:
    // The title shown on the button changes at once.
    virtual void setTitle(const std::string& title) = 0;
    // What the pointer resting on the button shows ("" for nothing): why it
    // is off, or what it does.
    virtual void setToolTip(const std::string& text) = 0;
};

// A pop-up menu of titled items, indexed from 0 in the order they were added.
class PopUpButton : public Control
{
public:
    virtual void addItemWithTitle(const std::string& title) = 0;
    virtual void removeAllItems() = 0;
    // Selects the item at nIndex; an index that names no item leaves no item
    // selected.
    virtual void selectItemAtIndex(int nIndex) = 0;
    // The 0-based index of the selected item, -1 when none is selected.
    // Worker thread allowed.
    virtual int indexOfSelectedItem() const = 0;
};

class TableView;

// A take's waveform as a cell draws it: one lane per channel, top to bottom,
// each the lowest and highest sample of every column of the picture, left to
// right, in -1 .. 1 (full scale; a float take's overs go beyond and are cut
// off at the lane's edge).
struct Waveform
{
    using Column = TakeOverview::Column;
    std::vector<std::vector<Column>> lanes;
};

// What a table shows: it asks its data source again after each reloadData,
// and for one row's cells after reloadRow.
class TableDataSource
{
public:
    virtual ~TableDataSource() = default;
    virtual int numberOfRowsInTableView(const TableView& table) const = 0;
    // The text of one cell; columnIdentifier is the column's identifier
    // ("FileName", "FilePath"), row is below numberOfRowsInTableView. A cell
    // that shows a waveform shows its text while it has none.
    virtual std::string objectValueForTableColumn(const TableView& table,
                                                  std::string_view columnIdentifier,
                                                  int row) const = 0;
    // What the pointer resting on a cell shows; "" for nothing.
    virtual std::string toolTipForTableColumn(const TableView&, std::string_view, int) const
    {
        return "";
    }
    // The waveform a cell draws in place of its text; nullptr for a cell of
    // text. It stays as it is while the table holds it.
    virtual std::shared_ptr<const Waveform> waveformForTableColumn(const TableView&,
                                                                   std::string_view, int) const
    {
        return nullptr;
    }
};

class TableView
{
public:
    virtual ~TableView() = default;
    // The table reads its rows from dataSource from now on (nullptr: no rows).
    virtual void setDataSource(TableDataSource* dataSource) = 0;
    // The table asks its data source again for the row count and every cell.
    virtual void reloadData() = 0;
    // The table asks its data source again for one row's cells (the rows
    // stay as many as they were); a row it does not have changes nothing.
    virtual void reloadRow(int row) = 0;
};

class TextView
{
public:
    virtual ~TextView() = default;
    // Replaces the whole text.
    virtual void setString(const std::string& text) = 0;
};

// The action a menu item sends; the controller validates the items that
// target it by this.
enum class MenuAction
{
    Terminate, // the application menu's Quit item
    Cancel,    // the menu's Cancel: enabled exactly while a batch runs
    Other,
};

class MenuItem : public Control
{
public:
    virtual MenuAction action() const = 0;
};

// The options of an open panel.
struct OpenPanelOptions
{
    bool bCanChooseFiles = true;
    bool bCanChooseDirectories = false;
    bool bAllowsMultipleSelection = false;
    bool bCanCreateDirectories = false;
    std::string title;       // the panel's title, what it is for
    std::string startFolder; // the folder it opens at; "" for the platform's choice
};

// The options of a save panel.
struct SavePanelOptions
{
    std::string title;       // the panel's title, what it is for
    std::string startFolder; // the folder it opens at; "" for the platform's choice
    std::string fileName;    // the name it proposes
};

// What to play: the audio of one take, read from its file as a format says.
struct PlayRequest
{
    std::string path;        // the take's file
    uint64_t nOffset = 0;    // of its first sample in the file
    uint64_t nBytes = 0;     // whole frames of format
    WavFormat format;        // read exactly as this says, right or wrong
    uint64_t nFromFrame = 0; // where playing starts, below nBytes' frames
};

// The computer's sound output. Interface thread only.
class AudioOutput
{
public:
    virtual ~AudioOutput() = default;
    // Why nothing can be played, in plain words for a tooltip ("This computer
    // has no sound output device, so takes cannot be played."); "" when the
    // output is there.
    virtual std::string whyNoOutput() const = 0;
    // Stops what plays and plays request's audio from its frame on, brought
    // to the channels and the samples the device takes; returns at once, the
    // file read on another thread. When the take has played to its end, or
    // cannot be played on (problem says why in plain words), ended runs on
    // the interface thread; never after stop or the next play.
    virtual void play(const PlayRequest& request,
                      std::function<void(const std::string& problem)> ended) = 0;
    // Stops playing at once; nothing when nothing plays.
    virtual void stop() = 0;
};

class PlatformServices
{
public:
    virtual ~PlatformServices() = default;

    // A modal open panel with the given options, no file selected.
    // The full paths the user confirmed, in the panel's order; nullopt when the
    // user cancelled.
    virtual std::optional<std::vector<std::string>>
    runOpenPanel(const OpenPanelOptions& options) = 0;

    // A modal save panel with the given options: the full path the user
    // confirmed (the panel has asked before a file there is replaced);
    // nullopt when the user cancelled.
    virtual std::optional<std::string> runSavePanel(const SavePanelOptions& options) = 0;

    // A modal alert with a title, a message shown literally (never a format
    // string) and buttons in their order: the first is the default (Return),
    // the last the one Escape presses. Returns the index of the button pressed
    // once the user has answered. Worker thread allowed: the worker waits.
    virtual int runAlertPanel(const std::string& title, const std::string& message,
                              const std::vector<std::string>& buttons) = 0;

    // The system beep. Worker thread allowed.
    virtual void beep() = 0;

    // One line in the system log, as given (no formatting is applied).
    // Worker thread allowed.
    virtual void log(const std::string& line) = 0;

    // The per-user settings store. hasDefault is false for a key never stored;
    // integerForKey gives 0 for an absent key; a stored integer survives to the
    // next run of the application.
    virtual bool hasDefault(const std::string& key) const = 0;
    virtual int integerForKey(const std::string& key) const = 0;
    virtual void setIntegerForKey(const std::string& key, int nValue) = 0;
    // A stored text; "" for an absent key.
    virtual std::string stringForKey(const std::string& key) const = 0;
    virtual void setStringForKey(const std::string& key, const std::string& value) = 0;

    // Runs work on a new thread and returns at once; nothing waits for the
    // thread, which ends when work returns. Several may run at once.
    virtual void detachThread(std::function<void()> work) = 0;

    // Runs work later on the interface thread, after the work posted before it,
    // and returns at once. Worker thread allowed.
    virtual void runOnInterfaceThread(std::function<void()> work) = 0;

    // The sound output the window plays takes on.
    virtual AudioOutput& audioOutput() = 0;

    // Ends the application (the main loop ends; this call may return first).
    virtual void terminate() = 0;

    // Shows the folder at path in the desktop's file manager and returns at
    // once.
    virtual void openFolder(const std::string& path) = 0;

    // --- Reports for the window; nothing is expected back. ------------------
    // The batch progress, 0.0 to 100.0: 0 when a batch starts, then after
    // each file, and within a large file as its copy goes. Worker thread
    // allowed.
    virtual void reportProgress(double progressValue) = 0;
    // The status line for the user changed to text. Worker thread allowed.
    virtual void reportStatus(const std::string& text) = 0;
    // One listed file is done with, whatever became of it; row is its row in
    // the file table when the batch started. Worker thread allowed.
    virtual void reportFileOutcome(int row, const FileOutcome& outcome) = 0;
};

} // namespace korva
