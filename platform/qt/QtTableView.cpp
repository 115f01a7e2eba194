#include "QtTableView.h"

#include "WaveformDelegate.h"

#include <QHeaderView>
#include <QTableWidget>

#include <algorithm>
#include <memory>
#include <vector>

QtTableView::QtTableView(QTableWidget* table)
    : m_table(table), m_identifiers(table->property("columnIdentifiers").toStringList()),
      m_waveforms(new WaveformDelegate(table))
{
    const int nColumn = m_identifiers.indexOf(QStringLiteral("Waveform"));
    if (nColumn >= 0)
        m_table->setItemDelegateForColumn(nColumn, m_waveforms);
}

void QtTableView::setDataSource(korva::TableDataSource* dataSource)
{
    m_dataSource = dataSource;
    reloadData();
}

void QtTableView::reloadData()
{
    if (m_bHeld)
        return;
    const int nRows = m_dataSource ? m_dataSource->numberOfRowsInTableView(*this) : 0;
    // Columns sized to their contents would measure their rows again for
    // each cell set: they are measured once, with every row in.
    QHeaderView* header = m_table->horizontalHeader();
    std::vector<QHeaderView::ResizeMode> modes;
    for (int column = 0; column < header->count(); ++column)
    {
        modes.push_back(header->sectionResizeMode(column));
        if (modes.back() == QHeaderView::ResizeToContents)
            header->setSectionResizeMode(column, QHeaderView::Interactive);
    }
    m_table->clearContents();
    m_table->setRowCount(nRows);
    for (int row = 0; row < nRows; ++row)
        fillRow(row);
    for (int column = 0; column < header->count(); ++column)
        header->setSectionResizeMode(column, modes[static_cast<std::size_t>(column)]);
    measureRowsOnShow();
}

void QtTableView::reloadRow(int row)
{
    if (!m_bHeld && m_dataSource && row >= 0 && row < m_table->rowCount())
        fillRow(row);
}

// Only what changed is set: a cell set anew has its column measured again.
void QtTableView::fillRow(int row)
{
    for (int column = 0; column < m_table->columnCount(); ++column)
    {
        const std::string identifier = m_identifiers.value(column).toStdString();
        const QString text =
            QString::fromStdString(m_dataSource->objectValueForTableColumn(*this, identifier, row));
        const QString toolTip =
            QString::fromStdString(m_dataSource->toolTipForTableColumn(*this, identifier, row));
        const QVariant waveform =
            QVariant::fromValue(m_dataSource->waveformForTableColumn(*this, identifier, row));
        QTableWidgetItem* item = m_table->item(row, column);
        if (!item)
        {
            auto made = std::make_unique<QTableWidgetItem>(text);
            made->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
            made->setToolTip(toolTip);
            made->setData(WaveformDelegate::kWaveformRole, waveform);
            m_table->setItem(row, column, made.release());
            continue;
        }
        if (item->text() != text)
            item->setText(text);
        if (item->toolTip() != toolTip)
            item->setToolTip(toolTip);
        if (item->data(WaveformDelegate::kWaveformRole) != waveform)
            item->setData(WaveformDelegate::kWaveformRole, waveform);
    }
}

void QtTableView::measureRowsOnShow()
{
    const int nHeight = m_table->viewport()->height();
    for (int row = std::max(0, m_table->rowAt(0));
         row < m_table->rowCount() && m_table->rowViewportPosition(row) < nHeight; ++row)
        m_table->resizeRowToContents(row);
}

void QtTableView::showCell(int row, const QString& columnIdentifier, const QString& text,
                           const QString& toolTip)
{
    QTableWidgetItem* item = m_table->item(row, m_identifiers.indexOf(columnIdentifier));
    if (!item)
        return;
    item->setText(text);
    item->setToolTip(toolTip);
}
