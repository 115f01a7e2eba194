#pragma once

#include "PlatformServices.h"

#include <string>

// A table with nothing to draw: it asks its data source on demand, so the
// command can read back which files the controller listed.
class ConsoleTableView : public korva::TableView
{
public:
    void setDataSource(korva::TableDataSource* dataSource) override { m_pDataSource = dataSource; }
    void reloadData() override {}

    int rowCount() const;
    // The cell's text; "" without a data source.
    std::string cell(const char* pszColumn, int row) const;

private:
    korva::TableDataSource* m_pDataSource = nullptr;
};
