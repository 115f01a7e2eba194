#include "AppController.h"

#include "KorvaWav.h"
#include "TemporaryCopy.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <filesystem>

namespace fs = std::filesystem;
using korva::FileOutcome;

namespace
{
// Pop-up index to value, shared by the saved settings and the per-file job.
constexpr std::array<uint32_t, 5> kSampleRates = {44100, 48000, 88200, 96000, 128000};
constexpr std::array<uint16_t, 2> kResolutions = {16, 24};

// An index outside the table leaves the value as it was.
template <typename T, std::size_t N>
void applyIndex(const std::array<T, N>& table, int32_t nIndex, T& value)
{
    if (static_cast<uint32_t>(nIndex) < N)
        value = table[static_cast<std::size_t>(nIndex)];
}

// RIFF sizes are 32-bit: nothing larger can be a WAV file the repair can handle.
constexpr uintmax_t kLargestFile = uintmax_t{1} << 32;

const char* const kSampleRateKey = "SampleRate";
const char* const kResolutionKey = "Resolution";

std::string joinPath(const std::string& folder, const std::string& name)
{
    return (fs::path(folder) / name).string();
}

bool hasWavExtension(const std::string& path)
{
    std::string extension = fs::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".wav";
}

FileOutcome::Kind kindOf(KorvaWavFile::RepairOutcome eOutcome)
{
    using Outcome = KorvaWavFile::RepairOutcome;
    switch (eOutcome)
    {
    case Outcome::Written:
    case Outcome::Inserted:
        return FileOutcome::Kind::Repaired;
    case Outcome::SizesRepaired:
        return FileOutcome::Kind::SizesRepaired;
    case Outcome::FormatExists:
    case Outcome::NoBext:
    case Outcome::NoData:
    case Outcome::NotRiff:
        return FileOutcome::Kind::Unchanged;
    default:
        return FileOutcome::Kind::Failed;
    }
}

// What the repair did to a copy, in a line for the user.
std::string describe(const KorvaWavFile& file)
{
    using Outcome = KorvaWavFile::RepairOutcome;
    const RepairPlan& plan = file.GetRepairPlan();
    switch (file.GetRepairOutcome())
    {
    case Outcome::Written:
        return "format chunk written over the remains of the lost one at " +
               std::to_string(plan.nRemainsOffset);
    case Outcome::Inserted:
        return std::string("format chunk inserted ") +
               (plan.bBehindBext ? "behind bext" : "in front of the audio");
    case Outcome::SizesRepaired:
        return "unfinished sizes finished: " + std::to_string(plan.nDataSize) + " bytes of audio";
    case Outcome::FormatExists:
        return "already has a format chunk";
    case Outcome::NoBext:
        return "no bext chunk";
    case Outcome::NoData:
        return "no data chunk";
    case Outcome::NotRiff:
        return "not a RIFF file";
    case Outcome::TooLarge:
        return "no room for a format chunk within the 4 GiB RIFF limit";
    case Outcome::NotWholeFrames:
        return "its " + std::to_string(plan.nDataDeclared) +
               " bytes of audio are not whole frames of " + std::to_string(plan.nBlockAlign) +
               " bytes: the format chosen cannot be the file's";
    case Outcome::OpenFailed:
        return "could not be opened for update";
    case Outcome::IoFailed:
        return "a read or write failed during the repair";
    case Outcome::CheckFailed:
        return "the repaired copy did not check out: " + file.GetCheckProblem();
    case Outcome::NotRun:
        break;
    }
    return "not repaired";
}

bool fail(FileOutcome& outcome, const std::string& detail)
{
    outcome.kind = FileOutcome::Kind::Failed;
    outcome.detail = detail;
    return false;
}
} // namespace

AppController::AppController(korva::PlatformServices& platform)
    : m_bProcessorIsIntel(std::endian::native == std::endian::little),
      szProgress("Please set the path to save the repaired files.\n"), m_platform(platform)
{
    fileArray.reserve(12);
    pathArray.reserve(12);
    readSettings();
}

void AppController::readSettings()
{
    if (!m_platform.hasDefault(kSampleRateKey))
    {
        m_platform.setIntegerForKey(kSampleRateKey, SampleRateIndex);
        m_platform.setIntegerForKey(kResolutionKey, ResolutionIndex);
        return;
    }
    SampleRateIndex = m_platform.integerForKey(kSampleRateKey);
    applyIndex(kSampleRates, SampleRateIndex, m_SampleRate);
    ResolutionIndex = m_platform.integerForKey(kResolutionKey);
    applyIndex(kResolutions, ResolutionIndex, m_Resolution);
}

void AppController::awakeFromNib()
{
    tableview1->setDataSource(this);
    sampleRate->addItemWithTitle("96 kHz");
    sampleRate->addItemWithTitle("128 kHz");
    resolution->removeAllItems();
    resolution->addItemWithTitle("16 bit");
    resolution->addItemWithTitle("24 bit");
    sampleRate->selectItemAtIndex(SampleRateIndex);
    resolution->selectItemAtIndex(ResolutionIndex);
}

void AppController::terminate()
{
    if (m_bPatching)
    {
        m_platform.beep();
        return;
    }
    SampleRateIndex = sampleRate->indexOfSelectedItem();
    ResolutionIndex = resolution->indexOfSelectedItem();
    m_platform.setIntegerForKey(kSampleRateKey, SampleRateIndex);
    m_platform.setIntegerForKey(kResolutionKey, ResolutionIndex);
    m_platform.terminate();
}

bool AppController::validateMenuItem(const korva::MenuItem& item) const
{
    if (item.action() == korva::MenuAction::Terminate)
        return !m_bPatching;
    return true;
}

void AppController::GetFilesForFixin()
{
    korva::OpenPanelOptions options;
    options.bCanChooseFiles = true;
    options.bCanChooseDirectories = false;
    options.bAllowsMultipleSelection = true;
    const auto paths = m_platform.runOpenPanel(options);
    if (paths)
    {
        if (!paths->empty())
        {
            fileArray.clear();
            pathArray.clear();
            m_bSourceSet = false;
        }
        for (const std::string& path : *paths)
        {
            if (!hasWavExtension(path))
                continue;
            const fs::path full(path);
            szSourcePath = full.parent_path().string();
            fileArray.push_back(full.filename().string());
            pathArray.push_back(szSourcePath);
            m_bSourceSet = true;
        }
        tableview1->reloadData();
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
    const auto paths = m_platform.runOpenPanel(options);
    if (paths && !paths->empty())
    {
        szDestPath = paths->front();
        m_bDestinationSet = true;
        showDestPathText();
    }
    // A destination chooser cancelled before any destination was chosen must
    // not enable a batch into an empty destination path.
    applyStartRule(m_bSourceSet && m_bDestinationSet);
}

void AppController::applyStartRule(bool bSideSet)
{
    ChangeGoState->setEnabled(bSideSet && szDestPath != szSourcePath);
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
    return static_cast<int>(fileArray.size());
}

std::string AppController::objectValueForTableColumn(const korva::TableView&,
                                                     std::string_view columnIdentifier,
                                                     int row) const
{
    const auto index = static_cast<std::size_t>(row);
    if (index >= fileArray.size())
        return "";
    if (columnIdentifier == "FileName")
        return fileArray[index];
    if (columnIdentifier == "FilePath")
        return pathArray[index];
    return "";
}

void AppController::setBatchControlsEnabled(bool bEnabled)
{
    for (korva::Control* control :
         {ChangeGoState, ChangeBrowseState, static_cast<korva::Control*>(ChangeQuitMenuItemState),
          ChangeSelButtonState, ChangeSRState, ChangeResState})
        control->setEnabled(bEnabled);
}

void AppController::DoPatch()
{
    m_bPatching = true;
    m_bCancel = false;
    setBatchControlsEnabled(false);
    QuitButton->setTitle("Cancel");
    if (fileArray.empty())
    {
        m_bPatching = false;
        szProgress = "\nArray empty - nothing to process - no files found.\n";
        m_platform.reportStatus(szProgress);
        setBatchControlsEnabled(true);
        QuitButton->setTitle("Quit");
        return;
    }
    m_platform.log("Start the thread");
    threadedFunction();
}

void AppController::threadedFunction()
{
    m_platform.detachThread([this] { startpatching(); });
}

void AppController::startpatching()
{
    const int n = static_cast<int>(fileArray.size());
    m_progressValue = 0.0;
    const double step = 100.0 / n;
    for (int i = 0; i < n; ++i)
    {
        // The cap absorbs the rounding of the repeated sum (six steps of
        // 100/6 add up to a little over 100).
        m_progressValue = std::min(m_progressValue + step, 100.0);
        m_platform.reportProgress(m_progressValue);
        if (!patchFile(i))
        {
            m_platform.log("UHOH ---------------------------------------!!!!!!!");
            break;
        }
        if (m_bCancel)
        {
            m_platform.beep();
            break;
        }
    }
    m_platform.log("==========================================");
    // The lists are emptied on the interface thread, where the table reads
    // them, so that the table never asks for a row that has just gone.
    m_platform.runOnInterfaceThread([this] { finishBatch(); });
}

void AppController::finishBatch()
{
    m_bPatching = false;
    m_bCancel = false;
    fileArray.clear();
    pathArray.clear();
    tableview1->reloadData();
    m_bSourceSet = false;
    setBatchControlsEnabled(true);
    ChangeGoState->setEnabled(false);
    QuitButton->setTitle("Quit");
}

void AppController::OnCancel()
{
    if (m_bPatching)
        m_bCancel = true;
}

bool AppController::patchFile(int row)
{
    const auto index = static_cast<std::size_t>(row);
    const std::string& name = fileArray[index];
    m_platform.log("---- PATCHFILE Function ----");
    FileOutcome outcome;
    outcome.sourcePath = joinPath(pathArray[index], name);
    m_platform.log("Copy file = " + outcome.sourcePath);
    outcome.destinationPath = joinPath(szDestPath, name);
    m_platform.log("Copying " + outcome.sourcePath + " to " + outcome.destinationPath);
    const bool bResult = copyAndRepair(name, outcome);
    m_platform.reportFileOutcome(outcome);
    return bResult;
}

bool AppController::copyAndRepair(const std::string& name, FileOutcome& outcome)
{
    const std::string& source = outcome.sourcePath;
    const std::string& destination = outcome.destinationPath;
    const fs::path folder = fs::path(destination).parent_path();
    // The copy is repaired under its temporary name, which is the longer one.
    if (TemporaryCopy::pattern(folder, name).native().size() >= CAudioFile::kPathCapacity)
        return logFailure(outcome, "Destination path too long: " + destination);
    std::error_code ec;
    const bool bReplace = fs::exists(fs::symlink_status(destination, ec));
    // Only a destination that exists can be the source itself.
    if (bReplace && fs::equivalent(source, destination, ec))
        return logFailure(outcome, "Source and destination are the same file: " + source);
    const uintmax_t nSize = fs::file_size(source, ec);
    if (!ec && nSize > kLargestFile)
        return logFailure(outcome, "File larger than 4 GiB, not copied: " + source);
    if (bReplace && !askToOverwrite(name))
        return fail(outcome, "Not copied: the existing file was kept");

    TemporaryCopy copy(folder, name, ec);
    if (ec)
        return logFailure(outcome, fs::filesystem_error("mkstemp", folder, ec).what());
    // The kernel copies the bytes; the source is only read.
    if (!copy.copyFrom(source, ec))
        return logFailure(outcome,
                          fs::filesystem_error("copy_file", source, copy.path(), ec).what());

    {
        KorvaWavFile file;
        file.SetPath(copy.path().c_str(), m_bProcessorIsIntel);
        readPopUps();
        file.RepairFMTChunk(m_SampleRate, m_Resolution);
        outcome.kind = kindOf(file.GetRepairOutcome());
        outcome.detail = describe(file);
    }
    // A copy the repair could not finish never takes the file's name; the
    // batch goes on, as after any repair.
    if (outcome.kind == FileOutcome::Kind::Failed)
        return true;

    if (bReplace && !deleteFile(destination))
        return fail(outcome, "Not copied: the existing file could not be removed");
    if (!copy.rename(destination, ec))
        return logFailure(outcome,
                          fs::filesystem_error("rename", copy.path(), destination, ec).what());
    return true;
}

bool AppController::logFailure(FileOutcome& outcome, const std::string& line)
{
    m_platform.log(line);
    return fail(outcome, line);
}

bool AppController::askToOverwrite(const std::string& name)
{
    const std::string message = "The file: " + name + " already exists! Overwrite file?";
    m_platform.beep();
    return m_platform.runAlertPanel("File Exists", message, "Yes", "No") ==
           korva::AlertButton::Default;
}

void AppController::readPopUps()
{
    SampleRateIndex = sampleRate->indexOfSelectedItem();
    applyIndex(kSampleRates, SampleRateIndex, m_SampleRate);
    ResolutionIndex = resolution->indexOfSelectedItem();
    applyIndex(kResolutions, ResolutionIndex, m_Resolution);
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
