#include "app/Style.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QObject>
#include <QWidget>

namespace orv::app {

// Gives the skin to dialogs and menus as they are shown, when the engine's properties ask for it.
class SkinFramework::NewWindows : public QObject {
public:
    explicit NewWindows(const SkinFramework& skin) : skin_(skin) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* window = static_cast<QWidget*>(watched);
            // A window with a sheet of its own was styled on purpose.
            if (window->isWindow() && window->styleSheet().isEmpty() && skin_.takesSkin(*window))
                window->setStyleSheet(skin_.styleSheet());
        }
        return false;
    }

private:
    const SkinFramework& skin_;
};

SkinFramework::SkinFramework() = default;
SkinFramework::~SkinFramework() = default;

void SkinFramework::LoadSkin(const QString& path, const QString&) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        throw StyleError(QStringLiteral("Cannot load the skin %1: %2")
                             .arg(QDir::toNativeSeparators(path), file.errorString()));
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw StyleError(QStringLiteral("Cannot load the skin %1: %2")
                             .arg(QDir::toNativeSeparators(path), file.errorString()));
    styleSheet_ = QString::fromUtf8(content);
}

bool SkinFramework::takesSkin(const QWidget& window) const {
    return (applyToDialogs_ && qobject_cast<const QDialog*>(&window)) ||
           (applyToMenus_ && qobject_cast<const QMenu*>(&window));
}

void SkinFramework::ApplyWindow(QWidget* window) {
    if (!(options_ & SkinApplyLook))
        return;
    window->setStyleSheet(styleSheet_);
    if (!newWindows_) {
        newWindows_ = std::make_unique<NewWindows>(*this);
        QCoreApplication::instance()->installEventFilter(newWindows_.get());
    }
}

void ApplySkin(QWidget& loginWindow, SkinFramework& skin, const QString& folder) {
    const QString path = skinFilePath(folder);
    // The directory lookup takes ordinary files only.
    const QFileInfo file(path);
    if (!file.isFile() || file.isHidden())
        return;
    ApplyWindowColours(loginWindow);
    skin.LoadSkin(path, QString());
    skin.setOptions(skin.options() | SkinApplyLook);
    skin.setApplyToDialogs(true);
    skin.setApplyToMenus(true);
    skin.ApplyWindow(&loginWindow);
}

} // namespace orv::app
