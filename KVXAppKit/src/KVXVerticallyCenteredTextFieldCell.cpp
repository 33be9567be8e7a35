#include "KVXAppKit/KVXVerticallyCenteredTextFieldCell.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>

namespace {

constexpr double kTitleInset = 2.0;
constexpr int kTextFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextExpandTabs;

}  // namespace

QSizeF KVXTextFieldCell::Contents::size() const {
    if (stringValue.isEmpty()) return {};
    return QFontMetricsF(font).size(Qt::TextExpandTabs, stringValue);
}

KVXTextFieldCell::KVXTextFieldCell(QObject* parent) : QStyledItemDelegate(parent) {}

QRectF KVXTextFieldCell::titleRectForBounds(const QRectF& bounds, const Contents&) const {
    return bounds.adjusted(kTitleInset, 0, -kTitleInset, 0);
}

void KVXTextFieldCell::drawText(const QRectF& rect, QPainter* painter, const Contents& contents) {
    painter->save();
    painter->setFont(contents.font);
    painter->setPen(contents.textColor);
    painter->drawText(rect, kTextFlags, contents.stringValue);
    painter->restore();
}

void KVXTextFieldCell::drawInteriorWithFrame(const QRectF& frame, QPainter* painter, QWidget*,
                                             const Contents& contents) const {
    drawText(titleRectForBounds(frame, contents), painter, contents);
}

void KVXTextFieldCell::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const Contents item{
        opt.text, opt.font,
        opt.palette.color(opt.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                             : QPalette::Text)};
    opt.text.clear();
    const QWidget* widget = opt.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    drawInteriorWithFrame(QRectF(opt.rect), painter, nullptr, item);
}

QRectF KVXVerticallyCenteredTextFieldCell::titleRectForBounds(const QRectF& bounds,
                                                              const Contents& contents) const {
    QRectF rect = KVXTextFieldCell::titleRectForBounds(bounds, contents);
    rect.moveTop(bounds.y() + (bounds.height() - contents.size().height()) / 2 - 1.0);
    return rect;
}

void KVXVerticallyCenteredTextFieldCell::drawInteriorWithFrame(const QRectF& frame,
                                                               QPainter* painter, QWidget*,
                                                               const Contents& contents) const {
    drawText(titleRectForBounds(frame, contents), painter, contents);
}
