#include "MainWindow.h"

#include "ui_MainWindow.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

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
} // namespace

MainWindow::MainWindow(Dialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), m_ui(loadForm(this)), m_platform(dialogs, this),
      m_controller(m_platform), m_goControl(m_ui->goButton), m_browseControl(m_ui->browseButton),
      m_selectFilesControl(m_ui->selectFilesButton), m_sampleRate(m_ui->sampleRateBox),
      m_resolution(m_ui->resolutionBox),
      m_quitMenuItem(m_ui->actionQuit, korva::MenuAction::Terminate),
      m_quitButton(m_ui->quitButton), m_pathText(m_ui->pathText), m_fileTable(m_ui->fileTable)
{
    connectOutlets();
    m_controller.awakeFromNib();
    connectActions();
    showReports();
}

MainWindow::~MainWindow() = default;

void MainWindow::connectOutlets()
{
    m_controller.ChangeCancelState = &m_quitButton;
    m_controller.ChangeGoState = &m_goControl;
    m_controller.ChangeQuitState = &m_quitButton;
    m_controller.ChangeBrowseState = &m_browseControl;
    m_controller.ChangeSelButtonState = &m_selectFilesControl;
    m_controller.ChangeSRState = &m_sampleRate;
    m_controller.ChangeResState = &m_resolution;
    m_controller.ChangeQuitMenuItemState = &m_quitMenuItem;
    m_controller.SelectFilesButton = &m_selectFilesControl;
    m_controller.PathTextCtrl = &m_pathText;
    m_controller.tableview1 = &m_fileTable;
    m_controller.sampleRate = &m_sampleRate;
    m_controller.resolution = &m_resolution;
    m_controller.QuitButton = &m_quitButton;
}

void MainWindow::connectActions()
{
    connect(m_ui->selectFilesButton, &QPushButton::clicked, this,
            [this] { m_controller.GetFilesForFixin(); });
    connect(m_ui->browseButton, &QPushButton::clicked, this, [this] { m_controller.SetPath(); });
    connect(m_ui->goButton, &QPushButton::clicked, this, [this] { m_controller.DoPatch(); });
    connect(m_ui->quitButton, &QPushButton::clicked, this, &MainWindow::quitOrCancel);
    connect(m_ui->actionQuit, &QAction::triggered, this, [this] { m_controller.terminate(); });
    connect(m_ui->menuFile, &QMenu::aboutToShow, this,
            [this]
            { m_ui->actionQuit->setEnabled(m_controller.validateMenuItem(m_quitMenuItem)); });
}

void MainWindow::showReports()
{
    m_ui->statusLabel->setText(QString::fromStdString(m_controller.progressText()).trimmed());
    connect(&m_platform, &QtPlatform::statusReported, this,
            [this](const QString& text) { m_ui->statusLabel->setText(text.trimmed()); });
    connect(&m_platform, &QtPlatform::progressReported, this,
            [this](double progressValue) { m_ui->progressBar->setValue(qRound(progressValue)); });
    connect(&m_platform, &QtPlatform::lineLogged, m_ui->activityText,
            &QPlainTextEdit::appendPlainText);
    connect(&m_platform, &QtPlatform::fileReported, m_ui->activityText,
            &QPlainTextEdit::appendPlainText);
}

// The one button reads "Cancel" exactly while a batch runs.
void MainWindow::quitOrCancel()
{
    if (m_controller.isPatching())
        m_controller.OnCancel();
    else
        m_controller.terminate();
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
    m_platform.answerNextOpenPanel(std::move(paths));
    m_controller.GetFilesForFixin();
    event->acceptProposedAction();
}
