#pragma once

#include "PlatformServices.h"

#include <QStringList>

class QTableWidget;

// A table widget that shows what its data source gives. Each column's
// identifier comes from the table's "columnIdentifiers" property (a string
// list, one per column, set in the window's form); the cells are read-only.
class QtTableView : public korva::TableView
{
public:
    explicit QtTableView(QTableWidget* table);
    void setDataSource(korva::TableDataSource* dataSource) override;
    void reloadData() override;

private:
    QTableWidget* m_table;
    QStringList m_identifiers;
    korva::TableDataSource* m_dataSource = nullptr;
};
