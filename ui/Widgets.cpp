#include "ui/Widgets.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QPushButton>

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

QIcon programIcon() {
    return QIcon(QStringLiteral(":/orvendel/orvendel.png"));
}

} // namespace orv::ui
