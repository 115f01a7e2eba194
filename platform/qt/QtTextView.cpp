#include "QtTextView.h"

#include <QPlainTextEdit>

void QtTextView::setString(const std::string& text)
{
    m_textEdit->setPlainText(QString::fromStdString(text));
}
