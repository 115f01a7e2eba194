#include "ConsolePopUpButton.h"

#include <utility>

ConsolePopUpButton::ConsolePopUpButton(std::vector<std::string> items) : m_items(std::move(items))
{
    if (!m_items.empty())
        m_nSelected = 0;
}

void ConsolePopUpButton::addItemWithTitle(const std::string& title)
{
    m_items.push_back(title);
    if (m_nSelected < 0)
        m_nSelected = 0;
}

void ConsolePopUpButton::removeAllItems()
{
    m_items.clear();
    m_nSelected = -1;
}

void ConsolePopUpButton::selectItemAtIndex(int nIndex)
{
    const bool bNamesAnItem = nIndex >= 0 && static_cast<std::size_t>(nIndex) < m_items.size();
    m_nSelected = bNamesAnItem ? nIndex : -1;
}
