#include "ui/Widgets.h"

#include <QApplication>
#include <QFont>
#include <QHelpEvent>
#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QToolTip>

namespace orv::ui {

QFont arial(double points, bool bold) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

void paintWhite(QWidget& widget) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::Button, Qt::white);
    // The text that goes with white, whatever the user's scheme: some styles draw frame
    // captions in the text-box colour.
    for (QPalette::ColorRole text : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        palette.setColor(text, Qt::black);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

void followUserPalette(QWidget& widget) {
    QPalette palette = QApplication::palette(&widget);
    palette.setResolveMask(~QPalette::ResolveMask(0));
    widget.setPalette(palette);
}

QPushButton* pushButton(QWidget* parent, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setFont(arial(11.25, true));
    button->setAutoDefault(false);
    button->setDefault(false);
    paintWhite(*button);
    return button;
}

QLabel* label(QWidget* parent, const QString& caption) {
    auto* text = new QLabel(caption, parent);
    paintWhite(*text);
    return text;
}

bool TableListWidget::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (const QListWidgetItem* item = itemAt(help->pos()); item && cutOff(*item)) {
            QToolTip::showText(help->globalPos(), item->text(), viewport(), visualItemRect(item));
            return true;
        }
        // Items have no tooltip of their own: the event goes on to the list's.
    }
    return QListWidget::viewportEvent(event);
}

bool TableListWidget::cutOff(const QListWidgetItem& item) const {
    // The text stands inside the item's rectangle by the focus frame's margin on each side.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const QRect shown = visualItemRect(&item);
    const int width = fontMetrics().horizontalAdvance(item.text());
    const int left = shown.left() + margin;
    return left < 0 || left + width > viewport()->width() || width + 2 * margin > shown.width();
}

QIcon programIcon() {
    return QIcon(QStringLiteral(":/orvendel/orvendel.png"));
}

} // namespace orv::ui
