#pragma once

#include "PlatformServices.h"

#include <QStringList>

class QTableWidget;
class WaveformDelegate;

// A table widget that shows what its data source gives. Each column's
// identifier comes from the table's "columnIdentifiers" property (a string
// list, one per column, set in the window's form); the cells are read-only,
// each with the tooltip the data source gives. The "Waveform" column draws
// each cell's waveform (WaveformDelegate) in place of its text.
class QtTableView : public korva::TableView
{
public:
    explicit QtTableView(QTableWidget* table);
    void setDataSource(korva::TableDataSource* dataSource) override;
    // Reads every row again from the data source, unless the rows are held.
    void reloadData() override;
    // Reads row's cells again, unless the rows are held; its height stays.
    void reloadRow(int row) override;
    // Fits the height of each row on show to its texts: a few dozen rows,
    // however long the list. For when the list, the columns' widths, the
    // table's height or the scroll position change; never for a cell's
    // update, which would make the work per file grow with the list.
    void measureRowsOnShow();

    // While the rows are held, reloadData leaves the table as it is: a batch's
    // rows stay on show after the controller has emptied its list. Releasing
    // them changes nothing until the next reloadData.
    void holdRows(bool bHeld) { m_bHeld = bHeld; }
    // Shows text in one cell, and toolTip when the pointer rests on it. A row
    // or a column identifier the table does not have changes nothing.
    void showCell(int row, const QString& columnIdentifier, const QString& text,
                  const QString& toolTip);
    // The delegate of the waveform column, which tells its clicks.
    WaveformDelegate& waveforms() { return *m_waveforms; }

private:
    void fillRow(int row);

    QTableWidget* m_table;
    QStringList m_identifiers;
    WaveformDelegate* m_waveforms; // the table's child
    korva::TableDataSource* m_dataSource = nullptr;
    bool m_bHeld = false;
};
