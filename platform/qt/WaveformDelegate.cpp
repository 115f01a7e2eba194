#include "WaveformDelegate.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace
{
std::shared_ptr<const korva::Waveform> waveformOf(const QModelIndex& index)
{
    return index.data(WaveformDelegate::kWaveformRole)
        .value<std::shared_ptr<const korva::Waveform>>();
}
} // namespace

void WaveformDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const
{
    const std::shared_ptr<const korva::Waveform> waveform = waveformOf(index);
    if (!waveform || waveform->lanes.empty())
        return QStyledItemDelegate::paint(painter, option, index);
    // The cell's background and selection, without its text.
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    const QRect area = option.rect.adjusted(2, 2, -2, -2);
    if (area.width() <= 0 || area.height() <= 0)
        return;
    const bool bSelected = option.state & QStyle::State_Selected;
    const QColor ink = option.palette.color(bSelected ? QPalette::HighlightedText : QPalette::Text);
    QColor centre = ink;
    centre.setAlphaF(0.35F);
    painter->save();
    const auto nLanes = static_cast<int>(waveform->lanes.size());
    for (int lane = 0; lane < nLanes; ++lane)
    {
        const auto& columns = waveform->lanes[static_cast<std::size_t>(lane)];
        const int nTop = area.top() + area.height() * lane / nLanes;
        const int nBottom = area.top() + area.height() * (lane + 1) / nLanes - 1;
        const double dMid = (nTop + nBottom) / 2.0, dHalf = (nBottom - nTop) / 2.0;
        painter->setPen(centre);
        painter->drawLine(area.left(), qRound(dMid), area.right(), qRound(dMid));
        if (columns.empty())
            continue;
        painter->setPen(ink);
        const std::size_t nColumns = columns.size();
        for (int x = 0; x < area.width(); ++x)
        {
            // The waveform's columns under this pixel, at least one.
            const std::size_t nFirst =
                nColumns * static_cast<std::size_t>(x) / static_cast<std::size_t>(area.width());
            const std::size_t nEnd =
                std::max(nFirst + 1, nColumns * static_cast<std::size_t>(x + 1) /
                                         static_cast<std::size_t>(area.width()));
            float fMin = columns[nFirst].fMin, fMax = columns[nFirst].fMax;
            for (std::size_t c = nFirst + 1; c < nEnd && c < nColumns; ++c)
            {
                fMin = std::min(fMin, columns[c].fMin);
                fMax = std::max(fMax, columns[c].fMax);
            }
            const auto y = [&](float f)
            { return qRound(dMid - dHalf * static_cast<double>(std::clamp(f, -1.0F, 1.0F))); };
            painter->drawLine(area.left() + x, y(fMax), area.left() + x, y(fMin));
        }
    }
    painter->restore();
}

QSize WaveformDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QSize size = QStyledItemDelegate::sizeHint(option, index);
    return {std::max(size.width(), kWidth), std::max(size.height(), kHeight)};
}

bool WaveformDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                   const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (event->type() == QEvent::MouseButtonPress && waveformOf(index) && option.rect.width() > 0)
    {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton)
            emit waveformClicked(index.row(), (mouse->position().x() - option.rect.left()) /
                                                  option.rect.width());
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}
