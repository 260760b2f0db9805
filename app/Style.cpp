#include "app/Style.h"

#include "app/Constants.h"
#include "app/Dialogs.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPalette>
#include <QRadioButton>
#include <QWidget>

namespace orv::app {

namespace {

constexpr qsizetype titleLimit = 40;

// The button-face colour with the user's text colour for it, so captions stay readable under
// dark schemes as well.
void paintButtonFace(QWidget& widget, const QColor& face, const QColor& text) {
    QPalette palette = widget.palette();
    palette.setColor(widget.backgroundRole(), face);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        palette.setColor(role, text);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

} // namespace

QString applicationFolder() {
    QString folder = QCoreApplication::applicationDirPath();
    // The root folder is the one that ends in a separator.
    if (folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

QString skinFilePath(const QString& folder) {
    return folder + QStringLiteral("/x/o.cjs");
}

QString cursorFilePath(const QString& folder) {
    return folder + QStringLiteral("/HAND-M.CUR");
}

bool FileExists(const QString& path) noexcept {
    try {
        // For a name the system cannot take (one holding a NUL) Qt leaves the time unset rather
        // than invalid, but it does say the file does not exist.
        const QFileInfo file(path);
        return file.exists() && file.lastModified().isValid();
    } catch (...) {
        return false;
    }
}

QColor buttonFaceColour() {
    return QGuiApplication::palette().color(QPalette::Button);
}

void ApplyWindowColours(QWidget& window) {
    const QColor face = buttonFaceColour();
    const QColor text = QGuiApplication::palette().color(QPalette::ButtonText);
    paintButtonFace(window, face, text);
    for (QWidget* control : window.findChildren<QWidget*>()) {
        if (qobject_cast<QRadioButton*>(control) || qobject_cast<QCheckBox*>(control) ||
            qobject_cast<QGroupBox*>(control) || qobject_cast<QLabel*>(control))
            paintButtonFace(*control, face, text);
    }
}

QString applicationTitleFor(const QString& productName) {
    QString title = productName;
    do {
        const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
        if (blank < 0)
            return title.left(titleLimit);
        title.truncate(blank);
    } while (title.size() > titleLimit);
    return title;
}

void SetApplicationTitle() {
    setApplicationTitleText(applicationTitleFor(QString::fromUtf8(productName)));
}

} // namespace orv::app
