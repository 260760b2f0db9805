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

void paintButtonFace(QWidget& widget, const QColor& face) {
    QPalette palette = widget.palette();
    palette.setColor(widget.backgroundRole(), face);
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
    paintButtonFace(window, face);
    for (QWidget* control : window.findChildren<QWidget*>()) {
        if (qobject_cast<QRadioButton*>(control) || qobject_cast<QCheckBox*>(control) ||
            qobject_cast<QGroupBox*>(control) || qobject_cast<QLabel*>(control))
            paintButtonFace(*control, face);
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
