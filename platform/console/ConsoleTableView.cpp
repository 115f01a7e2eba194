#include "ConsoleTableView.h"

int ConsoleTableView::rowCount() const
{
    return m_pDataSource ? m_pDataSource->numberOfRowsInTableView(*this) : 0;
}

std::string ConsoleTableView::cell(const char* pszColumn, int row) const
{
    return m_pDataSource ? m_pDataSource->objectValueForTableColumn(*this, pszColumn, row) : "";
}
