#pragma once
// KVXVerticallyCenteredTextFieldCell: a text field cell that draws its text
// centred vertically in its frame. As an item delegate it draws the display
// text of each item of a view that way.
//
// The text field cell it builds on holds a string value, a font and a text
// colour; its title rectangle is the bounds with 2 points taken off left and
// right (where a borderless text field cell puts its text). Coordinates are
// points, y growing downwards as in Qt.

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStyledItemDelegate>

class QPainter;
class QWidget;

class KVXTextFieldCell : public QStyledItemDelegate {
  public:
    // What a cell draws: the string value, in a font and a colour.
    struct Contents {
        QString stringValue;
        QFont font;
        QColor textColor = Qt::black;
        // The size the text takes when drawn, every line of it, unwrapped.
        QSizeF size() const;
    };

    explicit KVXTextFieldCell(QObject* parent = nullptr);

    void setStringValue(const QString& value) { contents_.stringValue = value; }
    QString stringValue() const { return contents_.stringValue; }
    void setFont(const QFont& font) { contents_.font = font; }
    QFont font() const { return contents_.font; }
    void setTextColor(const QColor& color) { contents_.textColor = color; }
    QColor textColor() const { return contents_.textColor; }

    QRectF titleRectForBounds(const QRectF& bounds) const {
        return titleRectForBounds(bounds, contents_);
    }
    // Draws the cell's text; the view is not used.
    void drawInteriorWithFrame(const QRectF& frame, QPainter* painter,
                               QWidget* view = nullptr) const {
        drawInteriorWithFrame(frame, painter, view, contents_);
    }

    // Draws the item's background as the style does, then the item's display
    // text, in the item's font and colour, through drawInteriorWithFrame.
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

  protected:
    virtual QRectF titleRectForBounds(const QRectF& bounds, const Contents& contents) const;
    // The text, top left in the title rectangle of the frame.
    virtual void drawInteriorWithFrame(const QRectF& frame, QPainter* painter, QWidget* view,
                                       const Contents& contents) const;
    static void drawText(const QRectF& rect, QPainter* painter, const Contents& contents);

  private:
    Contents contents_;
};

class KVXVerticallyCenteredTextFieldCell : public KVXTextFieldCell {
  public:
    using KVXTextFieldCell::drawInteriorWithFrame;
    using KVXTextFieldCell::KVXTextFieldCell;
    using KVXTextFieldCell::titleRectForBounds;

  protected:
    // The text field cell's title rectangle with its vertical origin moved so
    // that the text sits in the middle of the bounds, 1 point higher; the
    // offset is not clamped, so a text taller than the bounds starts above
    // them.
    QRectF titleRectForBounds(const QRectF& bounds, const Contents& contents) const override;
    // The text into titleRectForBounds of the frame, and nothing else.
    void drawInteriorWithFrame(const QRectF& frame, QPainter* painter, QWidget* view,
                               const Contents& contents) const override;
};
