#pragma once

#include "AppController.h"
#include "QtButton.h"
#include "QtControl.h"
#include "QtMenuItem.h"
#include "QtPlatform.h"
#include "QtPopUpButton.h"
#include "QtTableView.h"
#include "QtTextView.h"

#include <QMainWindow>
#include <QTimer>

#include <memory>

namespace Ui
{
class MainWindow;
}

// The Korva window: loads the form, creates the controller over the Qt
// platform, connects the controller's outlets to the form's controls, sends
// awakeFromNib and then hands the controls' signals to the controller's
// actions (a pop-up's new selection too, whoever makes it). It shows the
// controller's status line and the batch's progress, one activity line per
// file, and each file's outcome in the table's Result column (the detail and
// any warnings as the cell's tooltip). A batch's rows stay on show, with their
// outcomes, until the next selection. Files and folders dropped on it are
// listed as a confirmed file-chooser selection; closing is a quit request (refused with a
// beep during a batch); the destination field takes a typed or pasted path when
// editing ends; Help ▸ About Korva shows the version and licence. Every
// action is in the File menu too, which enables each item as its button; each
// button, pop-up and menu has a mnemonic of its own (Alt and a letter). The
// Play button and the space bar in the table play the selected row's take or
// stop it; a click in a row's waveform plays the take from there.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // dialogs answers the panels and the alert; it must outlive the window.
    explicit MainWindow(Dialogs& dialogs, QWidget* parent = nullptr);
    ~MainWindow() override;

    AppController& controller() { return m_controller; }
    QtPlatform& platform() { return m_platform; }

    // Lists paths (full paths) as a confirmed file-chooser selection would:
    // the ".wav" files among them and the takes in its folders replace the
    // table's rows.
    void listFiles(std::vector<std::string> paths);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void layOutTable();
    void connectOutlets();
    void connectActions();
    void showReports();
    void chooseFiles();
    void startBatch();
    void quitOrCancel();
    void showAbout();
    bool acceptsFiles() const;

    std::unique_ptr<Ui::MainWindow> m_ui;
    QtPlatform m_platform;
    AppController m_controller;

    QtControl m_goControl;
    QtControl m_browseControl;
    QtControl m_selectFilesControl;
    QtControl m_selectFolderControl;
    QtControl m_openDestinationControl;
    QtControl m_retryControl;
    QtPopUpButton m_sampleRate;
    QtPopUpButton m_resolution;
    QtPopUpButton m_channels;
    QtMenuItem m_quitMenuItem;
    QtMenuItem m_cancelMenuItem;
    QtMenuItem m_exportReportItem;
    QtButton m_quitButton;
    QtButton m_playButton;
    QtTextView m_pathText;
    QtTableView m_fileTable;
    QTimer m_measureRows; // measures the rows once the columns' widths settle
};
