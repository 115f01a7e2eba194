#include "QtTextView.h"

#include <QLineEdit>

void QtTextView::setString(const std::string& text)
{
    m_field->setText(QString::fromStdString(text));
}
