#include "MainWindow.h"

#include "KorvaVersion.h"
#include "WaveformDelegate.h"
#include "ui_MainWindow.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QMessageBox>
#include <QMimeData>
#include <QScrollBar>
#include <QShortcut>
#include <QUrl>

#include <algorithm>

namespace
{
std::unique_ptr<Ui::MainWindow> loadForm(QMainWindow* window)
{
    auto ui = std::make_unique<Ui::MainWindow>();
    ui->setupUi(window);
    return ui;
}

// The local files among dropped URLs, in the order they were dropped.
std::vector<std::string> localPaths(const QMimeData* mimeData)
{
    std::vector<std::string> paths;
    for (const QUrl& url : mimeData->urls())
    {
        if (url.isLocalFile())
            paths.push_back(url.toLocalFile().toStdString());
    }
    return paths;
}

const QString kResultColumn = QStringLiteral("Result");
const QString kFormatColumn = QStringLiteral("Format");
} // namespace

MainWindow::MainWindow(Dialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), m_ui(loadForm(this)), m_platform(dialogs, this),
      m_controller(m_platform), m_goControl({m_ui->goButton, m_ui->actionStart}),
      m_browseControl({m_ui->browseButton, m_ui->actionChooseDestination, m_ui->pathText}),
      m_selectFilesControl({m_ui->selectFilesButton, m_ui->actionChooseFiles}),
      m_selectFolderControl({m_ui->selectFolderButton, m_ui->actionChooseFolder}),
      m_openDestinationControl({m_ui->openDestinationButton, m_ui->actionOpenDestination}),
      m_retryControl({m_ui->retryButton, m_ui->actionRetry}), m_sampleRate(m_ui->sampleRateBox),
      m_resolution(m_ui->resolutionBox), m_channels(m_ui->channelsBox),
      m_quitMenuItem(m_ui->actionQuit, korva::MenuAction::Terminate),
      m_cancelMenuItem(m_ui->actionCancel, korva::MenuAction::Cancel),
      m_exportReportItem(m_ui->actionExportReport, korva::MenuAction::Other),
      m_quitButton(m_ui->quitButton), m_playButton(m_ui->playButton, 1), m_pathText(m_ui->pathText),
      m_fileTable(m_ui->fileTable)
{
    layOutTable();
    connectOutlets();
    // Before awakeFromNib, which reports the first status.
    showReports();
    m_controller.awakeFromNib();
    connectActions();
}

MainWindow::~MainWindow() = default;

// The Format column's texts are the longest: it takes the room the other
// columns leave, and a text that needs more wraps onto a second line. Only
// the rows on show are measured, and only when what is on show changes,
// never when an outcome fills a cell: measuring every row on each update made
// the window's work per file grow with the list. The Result column, the one a
// batch fills, is as wide as its longest word from the start.
void MainWindow::layOutTable()
{
    QTableWidget* table = m_ui->fileTable;
    QHeaderView* header = table->horizontalHeader();
    const QStringList identifiers = table->property("columnIdentifiers").toStringList();
    for (int column = 0; column < identifiers.size(); ++column)
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(identifiers.indexOf(kFormatColumn), QHeaderView::Stretch);
    const int nResult = identifiers.indexOf(kResultColumn);
    header->setSectionResizeMode(nResult, QHeaderView::Fixed);
    int nWidth = header->sectionSizeHint(nResult);
    for (int kind = 0; kind <= static_cast<int>(korva::FileOutcome::Kind::ChunkRemoved); ++kind)
        nWidth =
            std::max(nWidth, table->fontMetrics().horizontalAdvance(QLatin1String(
                                 korva::KindWord(static_cast<korva::FileOutcome::Kind>(kind)))) +
                                 2 * table->fontMetrics().averageCharWidth());
    header->resizeSection(nResult, nWidth);
    // The columns an overview fills in are as wide as their longest text
    // from the start: a row's overview that came in and made every row be
    // measured again would hold the window for the whole list.
    const auto fixWidth = [&](const QString& identifier, int nContents)
    {
        const int nColumn = identifiers.indexOf(identifier);
        header->setSectionResizeMode(nColumn, QHeaderView::Fixed);
        header->resizeSection(nColumn,
                              std::max(header->sectionSizeHint(nColumn),
                                       nContents + 2 * table->fontMetrics().averageCharWidth()));
    };
    for (const auto& [identifier, longest] :
         {std::pair{QStringLiteral("Duration"), QStringLiteral("0:00:00.000")},
          {QStringLiteral("Size"), QStringLiteral("999.9 MB")},
          {QStringLiteral("Peak"), QStringLiteral("-100.0 dBFS")},
          {QStringLiteral("RMS"), QStringLiteral("-100.0 dBFS")}})
        fixWidth(identifier, table->fontMetrics().horizontalAdvance(longest));
    fixWidth(QStringLiteral("Waveform"), WaveformDelegate::kWidth);
    // What is on show changes in bursts (a window resized, a list scrolled):
    // the rows are measured once the burst is over.
    m_measureRows.setSingleShot(true);
    connect(&m_measureRows, &QTimer::timeout, this, [this] { m_fileTable.measureRowsOnShow(); });
    const auto measureLater = [this] { m_measureRows.start(); };
    connect(header, &QHeaderView::sectionResized, &m_measureRows, measureLater);
    connect(table->verticalScrollBar(), &QScrollBar::valueChanged, &m_measureRows, measureLater);
    connect(table->verticalScrollBar(), &QScrollBar::rangeChanged, &m_measureRows, measureLater);
}

void MainWindow::connectOutlets()
{
    m_controller.ChangeCancelState = &m_quitButton;
    m_controller.ChangeGoState = &m_goControl;
    m_controller.ChangeQuitState = &m_quitButton;
    m_controller.ChangeBrowseState = &m_browseControl;
    m_controller.ChangeSelButtonState = &m_selectFilesControl;
    m_controller.ChangeSelFolderState = &m_selectFolderControl;
    m_controller.OpenDestinationState = &m_openDestinationControl;
    m_controller.ExportReportState = &m_exportReportItem;
    m_controller.RetryState = &m_retryControl;
    m_controller.ChangeSRState = &m_sampleRate;
    m_controller.ChangeResState = &m_resolution;
    m_controller.ChangeQuitMenuItemState = &m_quitMenuItem;
    m_controller.SelectFilesButton = &m_selectFilesControl;
    m_controller.PathTextCtrl = &m_pathText;
    m_controller.tableview1 = &m_fileTable;
    m_controller.sampleRate = &m_sampleRate;
    m_controller.resolution = &m_resolution;
    m_controller.channels = &m_channels;
    m_controller.QuitButton = &m_quitButton;
    m_controller.PlayButton = &m_playButton;
}

void MainWindow::connectActions()
{
    // A button and its menu item send the same action.
    const auto both = [this](QAbstractButton* button, QAction* item, auto action)
    {
        connect(button, &QAbstractButton::clicked, this, action);
        connect(item, &QAction::triggered, this, action);
    };
    both(m_ui->selectFilesButton, m_ui->actionChooseFiles, [this] { chooseFiles(); });
    both(m_ui->selectFolderButton, m_ui->actionChooseFolder,
         [this]
         {
             m_fileTable.holdRows(false);
             m_controller.GetFolderForFixin();
         });
    both(m_ui->browseButton, m_ui->actionChooseDestination, [this] { m_controller.SetPath(); });
    both(m_ui->openDestinationButton, m_ui->actionOpenDestination,
         [this] { m_controller.OpenDestination(); });
    both(m_ui->goButton, m_ui->actionStart, [this] { startBatch(); });
    // The last batch's rows stay on show; those run again get new outcomes.
    both(m_ui->retryButton, m_ui->actionRetry, [this] { m_controller.Retry(); });
    connect(m_ui->pathText, &QLineEdit::editingFinished, this,
            [this] { m_controller.SetTypedPath(m_ui->pathText->text().toStdString()); });
    connect(m_ui->quitButton, &QPushButton::clicked, this, &MainWindow::quitOrCancel);
    connect(m_ui->actionExportReport, &QAction::triggered, this,
            [this] { m_controller.ExportReport(); });
    connect(m_ui->actionCancel, &QAction::triggered, this, [this] { m_controller.OnCancel(); });
    connect(m_ui->actionQuit, &QAction::triggered, this, [this] { m_controller.terminate(); });
    connect(m_ui->actionAbout, &QAction::triggered, this, &MainWindow::showAbout);
    for (QComboBox* popUp : {m_ui->sampleRateBox, m_ui->resolutionBox, m_ui->channelsBox})
        connect(popUp, &QComboBox::currentIndexChanged, this,
                [this] { m_controller.popUpChanged(); });
    // A sound engineer's transport: the space bar plays and stops the
    // selected take wherever the table's focus is, a click in a waveform
    // plays from there.
    QTableWidget* table = m_ui->fileTable;
    connect(table, &QTableWidget::currentCellChanged, this,
            [this](int row) { m_controller.selectionChanged(row); });
    connect(m_ui->playButton, &QPushButton::clicked, this, [this] { m_controller.PlayOrStop(); });
    auto* space =
        new QShortcut(Qt::Key_Space, table, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(space, &QShortcut::activated, this, [this] { m_controller.PlayOrStop(); });
    connect(&m_fileTable.waveforms(), &WaveformDelegate::waveformClicked, this,
            [this, table](int row, double position)
            {
                table->selectRow(row);
                m_controller.playFrom(row, position);
            });
    connect(m_ui->menuFile, &QMenu::aboutToShow, this,
            [this]
            {
                for (QtMenuItem* item : {&m_quitMenuItem, &m_cancelMenuItem})
                    item->setEnabled(m_controller.validateMenuItem(*item));
            });
}

void MainWindow::showReports()
{
    connect(&m_platform, &QtPlatform::statusReported, this,
            [this](const QString& text) { m_ui->statusLabel->setText(text.trimmed()); });
    connect(&m_platform, &QtPlatform::progressReported, this,
            [this](double progressValue) { m_ui->progressBar->setValue(qRound(progressValue)); });
    connect(&m_platform, &QtPlatform::fileReported, m_ui->activityText,
            &QPlainTextEdit::appendPlainText);
    connect(&m_platform, &QtPlatform::outcomeReported, this,
            [this](int row, const korva::FileOutcome& outcome)
            {
                m_fileTable.showCell(row, kResultColumn,
                                     QLatin1String(korva::KindWord(outcome.kind)),
                                     QtPlatform::detailOf(outcome));
            });
}

void MainWindow::listFiles(std::vector<std::string> paths)
{
    m_platform.answerNextOpenPanel(std::move(paths));
    chooseFiles();
}

// A new selection ends the show of the last batch's rows.
void MainWindow::chooseFiles()
{
    m_fileTable.holdRows(false);
    m_controller.GetFilesForFixin();
}

// The controller empties its list when the batch ends; the table keeps the
// rows, which the outcomes then fill in.
void MainWindow::startBatch()
{
    m_fileTable.holdRows(true);
    m_controller.DoPatch();
}

// The one button reads "Cancel" exactly while a batch runs.
void MainWindow::quitOrCancel()
{
    if (m_controller.isPatching())
        m_controller.OnCancel();
    else
        m_controller.terminate();
}

void MainWindow::showAbout()
{
    QMessageBox::about(
        this, QStringLiteral("About Korva"),
        QStringLiteral("Korva %1\n\nKorva rescues Broadcast Wave recordings whose format chunk "
                       "was lost: it copies each file into a folder you choose and writes a new "
                       "format chunk into the copy, leaving the original untouched.\n\n%2\n%3")
            .arg(QLatin1String(korva::kVersion), QLatin1String(korva::kCopyright),
                 QLatin1String(korva::kLicenceSummary)));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // A quit that the controller has already granted closes the window too;
    // it is not asked twice.
    if (!m_platform.isTerminating())
        m_controller.terminate();
    // The flag is cleared only on this thread, so it cannot change in between.
    event->setAccepted(!m_controller.isPatching());
}

bool MainWindow::acceptsFiles() const
{
    return m_ui->selectFilesButton->isEnabled();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (acceptsFiles() && !localPaths(event->mimeData()).empty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    std::vector<std::string> paths = localPaths(event->mimeData());
    if (!acceptsFiles() || paths.empty())
        return;
    listFiles(std::move(paths));
    event->acceptProposedAction();
}
