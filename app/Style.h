#pragma once

#include <QColor>
#include <QCursor>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

class QWidget;

namespace orv::app {

// A skin or cursor file that cannot be used. It reaches the error trap of the load handler that
// asked for the file.
class StyleError : public std::runtime_error {
public:
    explicit StyleError(const QString& description)
        : std::runtime_error(description.toStdString()) {}
};

// The folder of the program's executable, without a trailing separator.
QString applicationFolder();
// The optional skin <folder>/x/o.cjs and hand pointer <folder>/HAND-M.CUR.
QString skinFilePath(const QString& folder);
QString cursorFilePath(const QString& folder);

// True exactly when the file system reports a modification time for the path.
bool FileExists(const QString& path) noexcept;

// The user's colour for the face of push buttons.
QColor buttonFaceColour();

// The window and its frames, labels, check boxes and option buttons take the button-face colour;
// every other control keeps its own.
void ApplyWindowColours(QWidget& window);

// The caption of message boxes given no title: the product name cut word by word from the end,
// at least once, until it is 40 characters or fewer. A name without blanks has nothing to cut
// at and keeps at most its first 40 characters.
QString applicationTitleFor(const QString& productName);
void SetApplicationTitle();

enum SkinOption {
    // Windows given to ApplyWindow take the skin's look; without it a skin is only loaded.
    SkinApplyLook = 1,
};

// The skin engine. A skin file is a Qt style sheet.
class SkinFramework {
public:
    SkinFramework();
    ~SkinFramework();
    SkinFramework(const SkinFramework&) = delete;
    SkinFramework& operator=(const SkinFramework&) = delete;

    // iniName picks a scheme inside skins that hold several; ours hold one, so it is not used.
    // Throws StyleError when the file cannot be read.
    void LoadSkin(const QString& path, const QString& iniName);
    QString styleSheet() const { return styleSheet_; }

    int options() const noexcept { return options_; }
    void setOptions(int options) noexcept { options_ = options; }
    // Once a window is skinned, dialogs and message boxes opened later take the skin as well.
    void setApplyToDialogs(bool apply) noexcept { applyToDialogs_ = apply; }
    // Likewise for pop-up menus, such as the text boxes' context menus.
    void setApplyToMenus(bool apply) noexcept { applyToMenus_ = apply; }

    void ApplyWindow(QWidget* window);

private:
    class NewWindows;
    bool takesSkin(const QWidget& window) const;

    QString styleSheet_;
    int options_ = 0;
    bool applyToDialogs_ = false;
    bool applyToMenus_ = false;
    std::unique_ptr<NewWindows> newWindows_;
};

// Only when <folder>/x/o.cjs is an ordinary file (not hidden, not a folder): the login window
// gets the button-face colours, then the skin is loaded and applied to it.
void ApplySkin(QWidget& loginWindow, SkinFramework& skin, const QString& folder);

enum PointerState { PointerDefault = 0, PointerBusy = 11, PointerCustom = 99 };

// The pointer of one window, shown over the window and every control on it.
class WindowPointer {
public:
    explicit WindowPointer(QWidget& window) : window_(window) {}

    // The custom image from a Windows cursor file, with the file's hot spot. Throws StyleError
    // when the file is not a readable cursor.
    void loadCustom(const QString& cursorPath);
    bool hasCustomImage() const noexcept { return custom_.has_value(); }

    PointerState state() const noexcept { return state_; }
    // Busy shows the hourglass; custom the custom image, or the ordinary arrow when there is
    // none; default gives every control its own pointer back.
    void setState(PointerState state);

    // The mouse moved over a control that asks for `wanted`. A busy window keeps its hourglass.
    void onMouseMove(PointerState wanted);

private:
    struct Covered {
        QPointer<QWidget> widget;
        std::optional<QCursor> own;
    };
    void cover(const QCursor& cursor);
    void uncover();

    QWidget& window_;
    PointerState state_ = PointerDefault;
    std::optional<QCursor> custom_;
    std::vector<Covered> covered_;
};

// Mouse moves over the control itself (not over a control on it) ask the pointer for `wanted`.
// A scroll area's viewport counts as the control. The pointer must outlive the control's events.
void trackMouse(QWidget& control, WindowPointer& pointer, PointerState wanted);

} // namespace orv::app
