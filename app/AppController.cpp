#include "AppController.h"

#include "BatchReport.h"
#include "SampleDecoder.h"
#include "TemporaryCopy.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <utility>

namespace fs = std::filesystem;
using korva::FileOutcome;
using Kind = FileOutcome::Kind;

namespace
{
struct Depth
{
    uint16_t nBits;
    bool bFloat;
};

// A pop-up item's value and the index the settings store for it. The items
// show in ascending order, but a stored index keeps the value it was saved
// for: a value added later takes the next index no older item had. Each
// pop-up's last item, behind its table, is "From the file", stored as kFromTheFile*.
template <typename T> struct Item
{
    T value;
    int32_t nStored;
};

constexpr int32_t kRateFromTheFile = 12;
constexpr std::array<Item<uint32_t>, 12> kSampleRates = {{{32000, 5},
                                                          {44100, 0},
                                                          {47952, 10},
                                                          {48000, 1},
                                                          {48048, 11},
                                                          {88200, 2},
                                                          {96000, 3},
                                                          {128000, 4},
                                                          {176400, 6},
                                                          {192000, 7},
                                                          {352800, 8},
                                                          {384000, 9}}};
constexpr int32_t kDepthFromTheFile = 6;
constexpr std::array<Item<Depth>, 6> kResolutions = {{{{8, false}, 2},
                                                      {{16, false}, 0},
                                                      {{24, false}, 1},
                                                      {{32, false}, 3},
                                                      {{32, true}, 4},
                                                      {{64, true}, 5}}};
// 1 to 64 channels. The first twelve stored indexes name the counts of
// kFirstChannels, the thirteenth "From the file"; the other counts follow.
constexpr int32_t kChannelsFromTheFile = 12;
constexpr std::array<uint16_t, 12> kFirstChannels = {1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 24, 32};
constexpr auto kChannels = []
{
    std::array<Item<uint16_t>, 64> items{};
    int32_t nNext = kChannelsFromTheFile + 1;
    for (uint16_t n = 1; n <= items.size(); ++n)
    {
        const auto* first = std::find(kFirstChannels.begin(), kFirstChannels.end(), n);
        items[n - 1] = {n, first != kFirstChannels.end()
                               ? static_cast<int32_t>(first - kFirstChannels.begin())
                               : nNext++};
    }
    return items;
}();
const char* const kFromTheFile = "From the file";

// The value stored as nStored: the table's, or nullopt (from the file); a
// stored index that names no item leaves it as it was.
template <typename T, std::size_t N>
void applyIndex(const std::array<Item<T>, N>& table, int32_t nFromTheFile, int32_t nStored,
                std::optional<T>& value)
{
    const auto item = std::find_if(table.begin(), table.end(),
                                   [&](const Item<T>& i) { return i.nStored == nStored; });
    if (item != table.end())
        value = item->value;
    else if (nStored == nFromTheFile)
        value = std::nullopt;
}

// A pop-up's place of the item stored as nStored, and back; -1 for none.
template <typename T, std::size_t N>
int32_t placeOf(const std::array<Item<T>, N>& table, int32_t nFromTheFile, int32_t nStored)
{
    if (nStored == nFromTheFile)
        return static_cast<int32_t>(N);
    const auto item = std::find_if(table.begin(), table.end(),
                                   [&](const Item<T>& i) { return i.nStored == nStored; });
    return item == table.end() ? -1 : static_cast<int32_t>(item - table.begin());
}

template <typename T, std::size_t N>
int32_t storedAt(const std::array<Item<T>, N>& table, int32_t nFromTheFile, int32_t nPlace)
{
    const auto n = static_cast<uint32_t>(nPlace);
    return n < N ? table[n].nStored : n == N ? nFromTheFile : nPlace;
}

// "44.1 kHz", "47.952 kHz", "192 kHz".
std::string rateTitle(uint32_t nHz)
{
    std::string fraction = std::to_string(1000 + nHz % 1000).substr(1);
    fraction.erase(fraction.find_last_not_of('0') + 1);
    return std::to_string(nHz / 1000) + (fraction.empty() ? "" : "." + fraction) + " kHz";
}

std::string depthTitle(Depth depth)
{
    return std::to_string(depth.nBits) + " bit" + (depth.bFloat ? " float" : "");
}

std::string channelsTitle(uint16_t nChannels)
{
    return nChannels == 1   ? "Mono"
           : nChannels == 2 ? "Stereo"
                            : std::to_string(nChannels) + " channels";
}

// Replaces a pop-up's items with a table's titles and "From the file", and
// selects the item stored as nStored.
template <typename T, std::size_t N, typename Title>
void fillPopUp(korva::PopUpButton& popUp, const std::array<Item<T>, N>& table, Title title,
               int32_t nFromTheFile, int32_t nStored)
{
    popUp.removeAllItems();
    for (const Item<T>& item : table)
        popUp.addItemWithTitle(title(item.value));
    popUp.addItemWithTitle(kFromTheFile);
    popUp.selectItemAtIndex(placeOf(table, nFromTheFile, nStored));
}

// The choice before the pop-ups are read, and how the window's user settles
// what a file cannot tell.
FormatChoice firstChoice()
{
    FormatChoice choice =
        FormatChoice::Of({.nChannels = 1, .nSampleRate = 44100, .nBitsPerSample = 24});
    choice.rateHint = "choose the sample rate in the Sample rate pop-up";
    choice.depthHint = "choose the bit depth in the Resolution pop-up";
    choice.channelsHint = "choose the channels in the Channels pop-up";
    return choice;
}

const char* const kSampleRateKey = "SampleRate";
const char* const kResolutionKey = "Resolution";
const char* const kChannelsKey = "Channels";
const char* const kDestinationKey = "Destination";

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    return home ? home : "";
}

// text as a sentence begins: its first letter upper case.
std::string capitalised(std::string text)
{
    if (!text.empty())
        text.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(text.front())));
    return text;
}

std::string count(std::size_t n, const char* pszOne, const char* pszMany)
{
    return std::to_string(n) + " " + (n == 1 ? pszOne : pszMany);
}

// The loudest channel's peak or RMS.
double loudest(const TakeOverview& overview, double TakeOverview::Channel::*level)
{
    double dDb = -INFINITY;
    for (const TakeOverview::Channel& channel : overview.channels)
        dDb = std::max(dDb, channel.*level);
    return dDb;
}

// The tooltip of the level cells: each channel's peak and RMS, and where the
// levels come from when they were sampled.
std::string levelsWords(const TakeOverview& overview)
{
    std::string words;
    for (std::size_t i = 0; i < overview.channels.size(); ++i)
        words += "Channel " + std::to_string(i + 1) + ": peak " +
                 korva::DescribeLevel(overview.channels[i].dPeakDb) + ", RMS " +
                 korva::DescribeLevel(overview.channels[i].dRmsDb) + "\n";
    if (overview.bSampled)
    {
        char mib[32];
        std::snprintf(mib, sizeof mib, "%.0f",
                      std::ceil(static_cast<double>(overview.nBytesRead) / (1 << 20)));
        words += std::string("levels sampled from ") + mib + " MiB spread over the take";
    }
    else if (!words.empty())
        words.pop_back();
    return words;
}

const char* const kPlayTip =
    "Plays the selected take as its Format column reads it (Space); a click in a waveform plays "
    "from there";
} // namespace

// The overviews of one list under one format, read on a thread of their own:
// the rows' audio as it stood when the pass began. A pass that went stale
// stops at its next read, and the interface thread drops what it still brings.
struct AppController::OverviewPass
{
    std::vector<std::pair<std::size_t, RepairJob::Preview::Audio>> rows;
    std::vector<fs::path> paths;
    std::atomic<bool> bStale = false;
};

AppController::AppController(korva::PlatformServices& platform)
    : m_choice(firstChoice()), szProgress("Please set the path to save the repaired files.\n"),
      m_platform(platform)
{
    readSettings();
}

AppController::~AppController()
{
    dropOverviews();
    stopPlaying();
}

void AppController::readSettings()
{
    // The destination of the last run, while it is still there.
    const std::string destination = m_platform.stringForKey(kDestinationKey);
    std::error_code ec;
    if (!destination.empty() && fs::is_directory(destination, ec))
    {
        szDestPath = destination;
        m_bDestinationSet = true;
    }
    if (!m_platform.hasDefault(kSampleRateKey))
    {
        m_platform.setIntegerForKey(kSampleRateKey, SampleRateIndex);
        m_platform.setIntegerForKey(kResolutionKey, ResolutionIndex);
        m_platform.setIntegerForKey(kChannelsKey, ChannelsIndex);
        return;
    }
    // Settings saved before the Channels pop-up read as mono (0).
    SampleRateIndex = m_platform.integerForKey(kSampleRateKey);
    ResolutionIndex = m_platform.integerForKey(kResolutionKey);
    ChannelsIndex = m_platform.integerForKey(kChannelsKey);
    applyIndexes();
}

void AppController::applyIndexes()
{
    applyIndex(kSampleRates, kRateFromTheFile, SampleRateIndex, m_choice.nSampleRate);
    std::optional<Depth> depth;
    if (m_choice.nBitsPerSample)
        depth = Depth{*m_choice.nBitsPerSample, m_choice.bFloat};
    applyIndex(kResolutions, kDepthFromTheFile, ResolutionIndex, depth);
    m_choice.nBitsPerSample = depth ? std::optional(depth->nBits) : std::nullopt;
    m_choice.bFloat = depth && depth->bFloat;
    applyIndex(kChannels, kChannelsFromTheFile, ChannelsIndex, m_choice.nChannels);
}

void AppController::awakeFromNib()
{
    tableview1->setDataSource(this);
    fillPopUp(*sampleRate, kSampleRates, rateTitle, kRateFromTheFile, SampleRateIndex);
    fillPopUp(*resolution, kResolutions, depthTitle, kDepthFromTheFile, ResolutionIndex);
    fillPopUp(*channels, kChannels, channelsTitle, kChannelsFromTheFile, ChannelsIndex);
    if (m_bDestinationSet)
        showDestPathText();
    showPlayControl();
    OpenDestinationState->setEnabled(m_bDestinationSet);
    ExportReportState->setEnabled(false);
    RetryState->setEnabled(false);
    reportStatus();
}

void AppController::terminate()
{
    if (m_bPatching)
    {
        m_platform.beep();
        m_bQuitRefused = true;
        reportStatus();
        return;
    }
    readPopUps();
    m_platform.setIntegerForKey(kSampleRateKey, SampleRateIndex);
    m_platform.setIntegerForKey(kResolutionKey, ResolutionIndex);
    m_platform.setIntegerForKey(kChannelsKey, ChannelsIndex);
    m_platform.terminate();
}

bool AppController::validateMenuItem(const korva::MenuItem& item) const
{
    if (item.action() == korva::MenuAction::Terminate)
        return !m_bPatching;
    if (item.action() == korva::MenuAction::Cancel)
        return m_bPatching;
    return true;
}

void AppController::GetFilesForFixin()
{
    korva::OpenPanelOptions options;
    options.bCanChooseFiles = true;
    options.bCanChooseDirectories = false;
    options.bAllowsMultipleSelection = true;
    options.title = "Choose the damaged WAV files";
    listSources(options);
}

void AppController::GetFolderForFixin()
{
    korva::OpenPanelOptions options;
    options.bCanChooseFiles = false;
    options.bCanChooseDirectories = true;
    options.title = "Choose a card, or a folder of takes";
    listSources(options);
}

void AppController::listSources(const korva::OpenPanelOptions& options)
{
    const auto paths = m_platform.runOpenPanel(options);
    if (paths)
    {
        RetryState->setEnabled(false);
        if (!paths->empty())
            m_list = TakeList::Of(std::vector<fs::path>(paths->begin(), paths->end()),
                                  TakeList::Named::WavOnly);
        previewFormats();
    }
    applyStartRule(m_bDestinationSet);
}

void AppController::SetPath()
{
    korva::OpenPanelOptions options;
    options.bCanChooseFiles = false;
    options.bCanChooseDirectories = true;
    options.bAllowsMultipleSelection = false;
    options.bCanCreateDirectories = true;
    options.title = "Choose the destination folder";
    // The last destination while it can take copies, never a source folder.
    std::error_code ec;
    options.startFolder = m_bDestinationSet && fs::is_directory(szDestPath, ec) &&
                                  m_list.DestinationRefusal(szDestPath).empty()
                              ? szDestPath
                              : HomeFolder();
    const auto paths = m_platform.runOpenPanel(options);
    if (paths && !paths->empty())
    {
        szDestPath = paths->front();
        m_bDestinationSet = true;
        m_platform.setStringForKey(kDestinationKey, szDestPath);
        showDestPathText();
        OpenDestinationState->setEnabled(true);
    }
    // A destination chooser cancelled before any destination was chosen must
    // not enable a batch into an empty destination path.
    applyStartRule(!m_list.takes.empty() && m_bDestinationSet);
}

void AppController::OpenDestination()
{
    std::error_code ec;
    if (m_bDestinationSet && fs::is_directory(szDestPath, ec))
        m_platform.openFolder(szDestPath);
    else if (m_bDestinationSet)
        m_platform.reportStatus("The destination " + szDestPath +
                                " is not there any more. Choose another folder.");
}

void AppController::ExportReport()
{
    korva::SavePanelOptions options;
    options.title = "Export the report of the batch";
    options.startFolder = m_bDestinationSet ? szDestPath : HomeFolder();
    options.fileName = "Korva report.csv";
    const std::optional<std::string> path = m_platform.runSavePanel(options);
    if (!path)
        return;
    BatchReport report;
    for (const FileOutcome& outcome : m_outcomes)
        report.Add(outcome);
    if (const std::optional<std::string> problem = report.Write(*path))
        m_platform.runAlertPanel(
            "Report Not Written",
            capitalised(*problem) +
                ".\n\nChoose another folder, or make room, and export it again.",
            {"OK"});
    else
        m_platform.reportStatus("The report is written to " + *path + ".");
}

void AppController::SetTypedPath(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    const std::string path = first == std::string::npos
                                 ? ""
                                 : text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
    if (m_bPatching || (path == szDestPath && m_bDestinationSet == !path.empty()))
        return;
    szDestPath = path;
    m_bDestinationSet = !path.empty();
    std::error_code ec;
    if (fs::path(path).is_absolute() && fs::is_directory(path, ec))
        m_platform.setStringForKey(kDestinationKey, szDestPath);
    OpenDestinationState->setEnabled(m_bDestinationSet);
    applyStartRule(!m_list.takes.empty() && m_bDestinationSet);
}

void AppController::Retry()
{
    if (m_bPatching || m_lastList.takes.empty())
        return;
    m_list = m_lastList;
    if (const std::string refusal = destinationRefusal(); !refusal.empty())
    {
        m_list = {};
        m_platform.reportStatus("Start is off: " + refusal + ". Choose another folder.");
        return;
    }
    m_rowsLeftOut.clear();
    for (std::size_t i = 0; i < m_outcomes.size(); ++i)
        if (m_outcomes[i].kind != Kind::Failed && m_outcomes[i].kind != Kind::NotProcessed)
            m_rowsLeftOut.insert(static_cast<int>(i));
    previewFormats();
    startBatch();
}

// Why Start is off for the destination as it stands; "" when it is not.
std::string AppController::destinationRefusal() const
{
    std::error_code ec;
    if (!fs::path(szDestPath).is_absolute())
        return "the destination " + szDestPath + " is no full path (one that starts with /)";
    if (!fs::exists(szDestPath, ec))
        return "the destination " + szDestPath + " does not exist";
    if (!fs::is_directory(szDestPath, ec))
        return "the destination " + szDestPath + " is not a folder";
    return m_list.DestinationRefusal(szDestPath);
}

void AppController::applyStartRule(bool bSideSet)
{
    ChangeGoState->setEnabled(bSideSet && destinationRefusal().empty());
    reportStatus();
}

std::string AppController::statusText() const
{
    if (m_bPatching)
    {
        const int nRow = m_nCurrentRow;
        if (m_bCancel)
            return "Stopping after the current file…";
        if (m_bQuitRefused)
            return "A batch is running: Cancel stops it after the current file";
        if (nRow < 0)
            return "Starting…";
        const std::string ofAll =
            " (" + std::to_string(nRow + 1) + " of " + std::to_string(m_list.takes.size()) + ")…";
        const uint64_t nTotal = m_nBytesTotal;
        if (nTotal > 0)
            return "Copying " + takeAt(nRow).relative.string() + ": " +
                   korva::DescribeProgress(m_nBytesDone, nTotal) + ofAll;
        return "Repairing " + takeAt(nRow).relative.string() + ofAll;
    }
    const bool bSourceSet = !m_list.takes.empty();
    if (!bSourceSet && !m_bDestinationSet)
        return "Choose the damaged WAV files, then the folder for the repaired copies.";
    if (!bSourceSet)
        return "Choose the damaged WAV files to repair.";
    if (!m_bDestinationSet)
        return "Choose the folder for the repaired copies.";
    if (const std::string refusal = destinationRefusal(); !refusal.empty())
        return "Start is off: " + refusal + ". Choose another folder.";
    if (m_nContradicted > 0)
        return "Ready: " + count(m_list.takes.size(), "file", "files") + "; " +
               std::to_string(m_nContradicted) +
               (m_nContradicted == 1 ? " of them says" : " of them say") +
               " another format than the one chosen: see the Format column";
    return "Ready: " + count(m_list.takes.size(), "file", "files") + " to repair into " +
           szDestPath + ".";
}

void AppController::reportStatus()
{
    m_platform.reportStatus(statusText());
}

void AppController::popUpChanged()
{
    if (m_bPatching)
        return;
    previewFormats();
    reportStatus();
}

// Each listed file read as its job will read it, here on the interface thread
// while no batch runs, so that the table can show what Start will do.
void AppController::previewFormats()
{
    readPopUps();
    stopPlaying();
    formatArray.clear();
    m_looks.clear();
    m_nContradicted = 0;
    using Action = RepairJob::Preview::Action;
    for (const TakeList::Take& take : m_list.takes)
    {
        const RepairJob::Preview preview =
            RepairJob::PreviewOf(take.source, m_choice, m_list.CardTakes(take));
        m_nContradicted += preview.warnings.empty() ? 0 : 1;
        formatArray.push_back(preview.Words());
        Look& look = m_looks.emplace_back();
        std::error_code ec;
        if (const uintmax_t nBytes = fs::file_size(take.source, ec); !ec)
            look.nFileBytes = nBytes;
        look.audio = preview.audio;
        if (look.audio && !SampleDecoder::Reads(look.audio->format))
        {
            look.why = "its format, " + korva::DescribeFormat(look.audio->format) +
                       ", is none Korva can show or play";
            look.audio.reset();
        }
        else if (!look.audio)
            look.why = preview.action == Action::Fail ? "fails: " + preview.detail
                                                      : "left as it is: " + preview.detail;
    }
    readOverviews();
    tableview1->reloadData();
    showPlayControl();
}

void AppController::dropOverviews()
{
    if (m_overviews)
        m_overviews->bStale = true;
    m_overviews.reset();
}

// Reads each row's overview on a thread of its own, in row order; each one
// reaches its row on the interface thread.
void AppController::readOverviews()
{
    dropOverviews();
    auto pass = std::make_shared<OverviewPass>();
    for (std::size_t row = 0; row < m_looks.size(); ++row)
        if (m_looks[row].audio)
        {
            pass->rows.emplace_back(row, *m_looks[row].audio);
            pass->paths.push_back(m_list.takes[row].source);
        }
    if (pass->rows.empty())
        return;
    m_overviews = pass;
    // The thread may outlive the controller: it touches nothing of it but
    // the pass and the platform until the interface thread runs its results.
    m_platform.detachThread(
        [this, pass, &platform = m_platform]
        {
            for (std::size_t i = 0; i < pass->rows.size() && !pass->bStale; ++i)
            {
                const std::size_t row = pass->rows[i].first; // captured below, so no binding
                const auto& audio = pass->rows[i].second;
                TakeOverview overview =
                    TakeOverview::Read(pass->paths[i], audio.nOffset, audio.nBytes, audio.format,
                                       kWaveformColumns, &pass->bStale);
                if (pass->bStale)
                    return;
                platform.runOnInterfaceThread(
                    [this, pass, row, shared = std::make_shared<TakeOverview>(std::move(overview))]
                    { showOverview(pass, row, std::move(*shared)); });
            }
        });
}

void AppController::showOverview(const std::shared_ptr<OverviewPass>& pass, std::size_t row,
                                 TakeOverview overview)
{
    if (pass != m_overviews || row >= m_looks.size())
        return;
    auto waveform = std::make_shared<korva::Waveform>();
    for (TakeOverview::Channel& channel : overview.channels)
        waveform->lanes.push_back(std::move(channel.envelope));
    Look& look = m_looks[row];
    if (!overview.bFailed)
        look.waveform = std::move(waveform);
    look.overview = std::move(overview);
    tableview1->reloadRow(static_cast<int>(row));
}

void AppController::showDestPathText()
{
    PathTextCtrl->setString(szDestPath);
}

void AppController::showSourceText()
{
    PathTextCtrl->setString(szPath);
}

int AppController::numberOfRowsInTableView(const korva::TableView&) const
{
    return static_cast<int>(m_list.takes.size());
}

std::string AppController::objectValueForTableColumn(const korva::TableView&,
                                                     std::string_view columnIdentifier,
                                                     int row) const
{
    const auto index = static_cast<std::size_t>(row);
    if (index >= m_list.takes.size())
        return "";
    if (columnIdentifier == "FileName")
        return m_list.takes[index].relative.string();
    if (columnIdentifier == "FilePath")
        return m_list.takes[index].source.parent_path().string();
    if (columnIdentifier == "Format" && index < formatArray.size())
        return formatArray[index];
    if (index >= m_looks.size())
        return "";
    const Look& look = m_looks[index];
    if (columnIdentifier == "Size")
        return look.nFileBytes ? korva::DescribeSize(*look.nFileBytes) : "";
    if (!look.audio)
        return columnIdentifier == "Waveform" ? look.why : "";
    if (columnIdentifier == "Duration")
        return korva::DurationWords(
            korva::SecondsOf(look.audio->nBytes, look.audio->format).value_or(0));
    const TakeOverview* overview = look.overview ? &*look.overview : nullptr;
    if (columnIdentifier == "Waveform")
        return !overview           ? "reading…"
               : overview->bFailed ? "cannot be read: " + korva::SystemErrorWords(overview->nError)
                                   : "";
    if (!overview || overview->bFailed)
        return "";
    if (columnIdentifier == "Peak")
        return korva::DescribeLevel(loudest(*overview, &TakeOverview::Channel::dPeakDb));
    if (columnIdentifier == "RMS")
        return korva::DescribeLevel(loudest(*overview, &TakeOverview::Channel::dRmsDb));
    return "";
}

std::string AppController::toolTipForTableColumn(const korva::TableView& table,
                                                 std::string_view columnIdentifier, int row) const
{
    const auto index = static_cast<std::size_t>(row);
    if (index >= m_looks.size())
        return "";
    const Look& look = m_looks[index];
    if ((columnIdentifier == "Peak" || columnIdentifier == "RMS") && look.overview)
        return levelsWords(*look.overview);
    if (columnIdentifier == "Waveform")
        return look.audio ? kPlayTip : objectValueForTableColumn(table, columnIdentifier, row);
    return "";
}

std::shared_ptr<const korva::Waveform>
AppController::waveformForTableColumn(const korva::TableView&, std::string_view columnIdentifier,
                                      int row) const
{
    const auto index = static_cast<std::size_t>(row);
    return columnIdentifier == "Waveform" && index < m_looks.size() ? m_looks[index].waveform
                                                                    : nullptr;
}

void AppController::selectionChanged(int row)
{
    m_nSelectedRow = row;
    showPlayControl();
}

void AppController::PlayOrStop()
{
    if (m_nPlayingRow >= 0)
        stopPlaying();
    else
        play(m_nSelectedRow, 0);
    showPlayControl();
}

void AppController::playFrom(int row, double position)
{
    const auto index = static_cast<std::size_t>(row);
    if (index >= m_looks.size() || !m_looks[index].audio)
        return;
    const RepairJob::Preview::Audio& audio = *m_looks[index].audio;
    const uint64_t nFrames = audio.nBytes / std::max<uint16_t>(audio.format.BlockAlign(), 1);
    const double dAt = std::clamp(position, 0.0, 1.0) * static_cast<double>(nFrames);
    play(row, std::min(static_cast<uint64_t>(dAt), nFrames > 0 ? nFrames - 1 : 0));
    showPlayControl();
}

void AppController::play(int row, uint64_t nFromFrame)
{
    const auto index = static_cast<std::size_t>(row);
    if (index >= m_looks.size() || !m_looks[index].audio ||
        !m_platform.audioOutput().whyNoOutput().empty())
        return;
    const RepairJob::Preview::Audio& audio = *m_looks[index].audio;
    korva::PlayRequest request;
    request.path = m_list.takes[index].source.string();
    request.nOffset = audio.nOffset;
    request.nBytes = audio.nBytes;
    request.format = audio.format;
    request.nFromFrame = nFromFrame;
    m_nPlayingRow = row;
    m_platform.audioOutput().play(
        request,
        [this, name = m_list.takes[index].relative.string()](const std::string& problem)
        {
            m_nPlayingRow = -1;
            showPlayControl();
            if (!problem.empty())
                m_platform.reportStatus(name + " cannot be played: " + problem + ".");
        });
}

void AppController::stopPlaying()
{
    if (m_nPlayingRow < 0)
        return;
    m_nPlayingRow = -1;
    m_platform.audioOutput().stop();
}

// The play control: on for a take that can be played, "Stop" while one
// plays; the tooltip says why it is off.
void AppController::showPlayControl()
{
    const std::string why = m_platform.audioOutput().whyNoOutput();
    const auto index = static_cast<std::size_t>(m_nSelectedRow);
    const bool bPlaying = m_nPlayingRow >= 0;
    const bool bPlayable = index < m_looks.size() && m_looks[index].audio;
    PlayButton->setTitle(bPlaying ? "Stop" : "Play");
    PlayButton->setEnabled(why.empty() && (bPlaying || bPlayable));
    PlayButton->setToolTip(!why.empty() ? why
                           : bPlaying   ? "Stops the take that plays (Space)"
                           : bPlayable  ? kPlayTip
                           : index < m_looks.size()
                               ? "This take cannot be played: " + m_looks[index].why
                               : "Choose a take in the list to play it");
}

void AppController::setBatchControlsEnabled(bool bEnabled)
{
    for (korva::Control* control : std::initializer_list<korva::Control*>{
             ChangeGoState, ChangeBrowseState, ChangeQuitMenuItemState, ChangeSelButtonState,
             ChangeSelFolderState, ChangeSRState, ChangeResState, channels})
        control->setEnabled(bEnabled);
}

void AppController::DoPatch()
{
    m_rowsLeftOut.clear();
    startBatch();
}

// The batch over the listed rows but those left out.
void AppController::startBatch()
{
    readPopUps();
    // The table stands still during the batch: overviews still to come would
    // only take the disk and the interface thread from it.
    dropOverviews();
    m_bPatching = true;
    m_bCancel = false;
    m_bQuitRefused = false;
    ExportReportState->setEnabled(false);
    RetryState->setEnabled(false);
    setBatchControlsEnabled(false);
    QuitButton->setTitle("Cancel");
    if (m_list.takes.empty())
    {
        m_bPatching = false;
        szProgress = "\nArray empty - nothing to process - no files found.\n";
        m_platform.reportStatus(szProgress);
        setBatchControlsEnabled(true);
        QuitButton->setTitle("Quit");
        return;
    }
    m_nCurrentRow = -1;
    m_kindCounts.assign(static_cast<std::size_t>(Kind::NotProcessed) + 1, 0);
    if (m_rowsLeftOut.empty())
        m_outcomes.assign(m_list.takes.size(), FileOutcome{});
    m_progressValue = 0.0;
    m_platform.reportProgress(0.0);
    reportStatus();
    m_platform.log("Start the thread");
    threadedFunction();
}

// Sources that are gone or cannot be read are told before the batch's first
// file, and left out of it, so that they stop nothing. On the worker: a look
// at thousands of files would hold the window.
void AppController::reportUnreadableSources()
{
    for (std::size_t i = 0; i < m_list.takes.size(); ++i)
    {
        if (m_rowsLeftOut.count(static_cast<int>(i)))
            continue;
        const TakeList::Take& take = m_list.takes[i];
        const std::optional<std::string> why = RepairJob::WhyUnreadable(take.source);
        if (!why)
            continue;
        FileOutcome outcome;
        outcome.sourcePath = take.source.string();
        outcome.destinationPath = (fs::path(szDestPath) / take.relative).string();
        outcome.kind = Kind::Failed;
        outcome.detail = *why;
        m_rowsLeftOut.insert(static_cast<int>(i));
        reportOutcome(static_cast<int>(i), outcome);
    }
}

void AppController::threadedFunction()
{
    m_platform.detachThread([this] { startpatching(); });
}

void AppController::startpatching()
{
    const int n = static_cast<int>(m_list.takes.size());
    const double step = 100.0 / n;
    reportUnreadableSources();
    // What an interrupted run left in the destination goes before anything
    // new is written there.
    m_nLeftovers = TemporaryCopy::RemoveLeftovers(szDestPath).size();
    if (m_nLeftovers > 0)
        m_platform.log("removed " + std::to_string(m_nLeftovers) +
                       " unfinished temporary file(s) that an interrupted run left in " +
                       szDestPath);
    m_job = std::make_unique<RepairJob>(
        szDestPath, FormatChoice{},
        [this](const RepairJob::Question& question) { return askToOverwrite(question); },
        [this](const std::string& line) { m_platform.log(line); });
    // A large file's copy moves the progress bar on within its own step. The
    // statuses are made here: while a batch runs, nothing they read changes.
    m_job->SetProgress(
        [this, step](uint64_t nDone, uint64_t nTotal)
        {
            m_nBytesDone = nDone;
            m_nBytesTotal = nTotal;
            m_platform.reportProgress(std::min(m_progressValue + step * static_cast<double>(nDone) /
                                                                     static_cast<double>(nTotal),
                                               100.0));
            reportStatus();
        });
    int i = 0;
    for (; i < n; ++i)
    {
        if (!m_rowsLeftOut.count(i))
        {
            m_nCurrentRow = i;
            m_nBytesTotal = 0;
            reportStatus();
            if (!patchFile(i))
            {
                m_platform.log("UHOH ---------------------------------------!!!!!!!");
                ++i;
                break;
            }
        }
        // The cap absorbs the rounding of the repeated sum (six steps of
        // 100/6 add up to a little over 100).
        m_progressValue = std::min(m_progressValue + step, 100.0);
        m_platform.reportProgress(m_progressValue);
        if (m_bCancel)
        {
            m_platform.beep();
            ++i;
            break;
        }
    }
    for (; i < n; ++i)
        if (!m_rowsLeftOut.count(i))
        {
            FileOutcome outcome;
            outcome.sourcePath = takeAt(i).source.string();
            outcome.destinationPath = (fs::path(szDestPath) / takeAt(i).relative).string();
            outcome.detail = "the batch stopped before it";
            reportOutcome(i, outcome);
        }
    // The copies are on the destination's disk before the batch is called done.
    m_flushProblem = m_job->FlushDestination();
    if (m_flushProblem)
        m_platform.log(*m_flushProblem);
    m_job.reset();
    m_platform.log("==========================================");
    // The lists are emptied on the interface thread, where the table reads
    // them, so that the table never asks for a row that has just gone.
    m_platform.runOnInterfaceThread([this] { finishBatch(); });
}

void AppController::finishBatch()
{
    // The summary of the batch, in the order of the Result column's kinds.
    std::string summary;
    for (std::size_t k = 0; k < m_kindCounts.size(); ++k)
        if (m_kindCounts[k] > 0)
            summary += (summary.empty() ? "" : ", ") + std::to_string(m_kindCounts[k]) + " " +
                       korva::KindWord(static_cast<Kind>(k));
    m_bPatching = false;
    m_bCancel = false;
    m_nCurrentRow = -1;
    m_lastList = std::exchange(m_list, {});
    formatArray.clear();
    m_nContradicted = 0;
    dropOverviews();
    stopPlaying();
    m_looks.clear();
    m_nSelectedRow = -1;
    showPlayControl();
    tableview1->reloadData();
    setBatchControlsEnabled(true);
    ChangeGoState->setEnabled(false);
    ExportReportState->setEnabled(true);
    RetryState->setEnabled(std::any_of(m_outcomes.begin(), m_outcomes.end(),
                                       [](const FileOutcome& outcome) {
                                           return outcome.kind == Kind::Failed ||
                                                  outcome.kind == Kind::NotProcessed;
                                       }));
    QuitButton->setTitle("Quit");
    if (m_nLeftovers > 0)
        summary += ". Removed " +
                   count(m_nLeftovers, "unfinished temporary file", "unfinished temporary files") +
                   " that an interrupted run left in the destination";
    if (m_flushProblem)
        summary += ". " + capitalised(*m_flushProblem);
    m_platform.reportStatus("Done: " + summary + ".");
}

void AppController::OnCancel()
{
    if (m_bPatching)
    {
        m_bCancel = true;
        // A click just as the last file ends comes in behind the summary:
        // that summary stays.
        m_platform.runOnInterfaceThread(
            [this]
            {
                if (m_bPatching)
                    reportStatus();
            });
    }
}

bool AppController::patchFile(int row)
{
    const TakeList::Take& take = takeAt(row);
    m_platform.log("---- PATCHFILE Function ----");
    m_platform.log("Copy file = " + take.source.string());
    m_platform.log("Copying " + take.source.string() + " to " +
                   (fs::path(szDestPath) / take.relative).string());
    m_job->SetChoice(m_choice);
    reportOutcome(row, m_job->Run(take.source, take.relative, m_list.CardTakes(take)));
    return !m_job->StopsBatch();
}

const TakeList::Take& AppController::takeAt(int row) const
{
    return m_list.takes[static_cast<std::size_t>(row)];
}

void AppController::reportOutcome(int row, const FileOutcome& outcome)
{
    ++m_kindCounts[static_cast<std::size_t>(outcome.kind)];
    m_outcomes[static_cast<std::size_t>(row)] = outcome;
    m_platform.reportFileOutcome(row, outcome);
}

RepairJob::Answer AppController::askToOverwrite(const RepairJob::Question& question)
{
    using Answer = RepairJob::Answer;
    const std::string message =
        "The file: " + question.name + " already exists! Overwrite file?\n\n" +
        question.Comparison() +
        "\n\nYes replaces it. Yes to All replaces it and every later one without asking. Skip "
        "keeps it and goes on with the next file. No keeps it and stops the batch.";
    m_platform.beep();
    constexpr Answer kAnswers[] = {Answer::Yes, Answer::YesToAll, Answer::Skip, Answer::No};
    const int nButton =
        m_platform.runAlertPanel("File Exists", message, {"Yes", "Yes to All", "Skip", "No"});
    return static_cast<unsigned>(nButton) < std::size(kAnswers) ? kAnswers[nButton] : Answer::No;
}

void AppController::readPopUps()
{
    SampleRateIndex = storedAt(kSampleRates, kRateFromTheFile, sampleRate->indexOfSelectedItem());
    ResolutionIndex = storedAt(kResolutions, kDepthFromTheFile, resolution->indexOfSelectedItem());
    ChannelsIndex = storedAt(kChannels, kChannelsFromTheFile, channels->indexOfSelectedItem());
    applyIndexes();
}

bool AppController::deleteFile(const std::string& path)
{
    m_platform.log("Deleting " + path);
    std::error_code ec;
    if (fs::remove(path, ec))
        return true;
    if (!ec)
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
    m_platform.log(fs::filesystem_error("remove", path, ec).what());
    return false;
}

bool AppController::copyFile(const std::string& source, const std::string& destination)
{
    m_platform.log("Copying " + source + " to " + destination);
    std::error_code ec;
    if (fs::copy_file(source, destination, fs::copy_options::none, ec))
        return true;
    m_platform.log(fs::filesystem_error("copy_file", source, destination, ec).what());
    return false;
}
