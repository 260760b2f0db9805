#include "app/Dialogs.h"

#include "app/Constants.h"

#include <QFileDialog>
#include <QMessageBox>

namespace orv::app {

namespace {
QString& titleStore() {
    static QString title = QString::fromUtf8(productName);
    return title;
}
} // namespace

QString applicationTitle() {
    return titleStore();
}

void setApplicationTitleText(const QString& title) {
    titleStore() = title;
}

void QtDialogs::message(QWidget* parent, const QString& text, const QString& title,
                        MessageIcon icon, const QString& details) {
    QMessageBox box(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                    title, text, QMessageBox::Ok, parent);
    box.setDetailedText(details);
    // Enter closes the box, as it does a box without details: where "Show Details..." comes
    // first (KDE's button order), it would otherwise take the focus, and Enter would open it.
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

bool QtDialogs::askYesNo(QWidget* parent, const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
}

QString qtFileFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList descriptions;
    for (qsizetype i = 0; i < parts.size(); i += 2)
        descriptions << parts[i];
    return descriptions.join(QStringLiteral(";;"));
}

QString QtDialogs::saveFileName(QWidget* parent, const QString& title, const QString& filter) {
    // The window asks about overwriting itself.
    return QFileDialog::getSaveFileName(parent, title, QString(), qtFileFilter(filter), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

} // namespace orv::app
