#pragma once

#include "PlatformServices.h"

#include <QStyledItemDelegate>

#include <memory>

Q_DECLARE_METATYPE(std::shared_ptr<const korva::Waveform>)

// Draws a column of waveforms: a cell that holds one (kWaveformRole), each channel a lane
// of its own, top to bottom, each pixel column a line from the lowest to the
// highest sample of the waveform's columns under it, on a line at silence.
// Other cells it draws as the style does. A click in a waveform is told as
// where along it the click fell.
class WaveformDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int kWaveformRole = Qt::UserRole + 1;
    // The room each cell of the column asks for, waveform or not, so that a
    // row has its height before its waveform comes.
    static constexpr int kWidth = 160;
    static constexpr int kHeight = 40;

    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

signals:
    // A waveform of row was clicked at position (0 .. 1) along it.
    void waveformClicked(int row, double position);
};
