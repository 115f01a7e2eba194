#include "QtTableView.h"

#include "WaveformDelegate.h"

#include <QTableWidget>

#include <algorithm>
#include <memory>

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
    m_table->clearContents();
    m_table->setRowCount(nRows);
    for (int row = 0; row < nRows; ++row)
        fillRow(row);
    measureRowsOnShow();
}

void QtTableView::reloadRow(int row)
{
    if (!m_bHeld && m_dataSource && row >= 0 && row < m_table->rowCount())
        fillRow(row);
}

void QtTableView::fillRow(int row)
{
    for (int column = 0; column < m_table->columnCount(); ++column)
    {
        const std::string identifier = m_identifiers.value(column).toStdString();
        auto item = std::make_unique<QTableWidgetItem>(QString::fromStdString(
            m_dataSource->objectValueForTableColumn(*this, identifier, row)));
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        item->setToolTip(
            QString::fromStdString(m_dataSource->toolTipForTableColumn(*this, identifier, row)));
        if (auto waveform = m_dataSource->waveformForTableColumn(*this, identifier, row))
            item->setData(WaveformDelegate::kWaveformRole, QVariant::fromValue(waveform));
        m_table->setItem(row, column, item.release());
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
