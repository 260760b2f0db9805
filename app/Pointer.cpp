#include "app/Style.h"

#include <QAbstractScrollArea>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QMouseEvent>
#include <QObject>
#include <QPixmap>
#include <QWidget>
#include <QtEndian>

#include <algorithm>

namespace orv::app {

namespace {

QCursor readCursorFile(const QString& path) {
    const StyleError invalid(
        QStringLiteral("Invalid picture: %1").arg(QDir::toNativeSeparators(path)));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw invalid;
    // The directory (reserved, type 2 for a cursor, image count) and its first entry, which holds
    // the hot spot where an icon's entry holds planes and bit count.
    const QByteArray head = file.read(22);
    const auto word = [&head](int at) { return qFromLittleEndian<quint16>(head.constData() + at); };
    if (head.size() < 22 || word(0) != 0 || word(2) != 2 || word(4) == 0)
        throw invalid;
    const QPoint hotSpot(word(10), word(12));
    file.seek(0);
    QImageReader reader(&file, "cur");
    const QImage image = reader.read();
    if (image.isNull() || !image.rect().contains(hotSpot))
        throw invalid;
    return QCursor(QPixmap::fromImage(image), hotSpot.x(), hotSpot.y());
}

// The window and its controls, without the windows it owns (message boxes, menus).
void collectControls(QWidget& widget, QList<QWidget*>& controls) {
    controls << &widget;
    for (QObject* child : widget.children())
        if (auto* control = qobject_cast<QWidget*>(child); control && !control->isWindow())
            collectControls(*control, controls);
}

class MouseMoves : public QObject {
public:
    MouseMoves(WindowPointer& pointer, PointerState wanted, QObject* parent)
        : QObject(parent), pointer_(pointer), wanted_(wanted) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseMove) {
            const auto* control = static_cast<QWidget*>(watched);
            const auto* move = static_cast<QMouseEvent*>(event);
            // A move that a control lying on this one passed up belongs to that control.
            if (!control->childAt(move->position().toPoint()))
                pointer_.onMouseMove(wanted_);
        }
        return false;
    }

private:
    WindowPointer& pointer_;
    PointerState wanted_;
};

} // namespace

void WindowPointer::loadCustom(const QString& cursorPath) {
    custom_ = readCursorFile(cursorPath);
    if (state_ == PointerCustom)
        cover(*custom_);
}

void WindowPointer::setState(PointerState state) {
    state_ = state;
    switch (state) {
    case PointerBusy:
        cover(QCursor(Qt::WaitCursor));
        break;
    case PointerCustom:
        cover(custom_.value_or(QCursor(Qt::ArrowCursor)));
        break;
    case PointerDefault:
        uncover();
        break;
    }
}

void WindowPointer::onMouseMove(PointerState wanted) {
    if (state_ == PointerBusy || state_ == wanted)
        return;
    setState(wanted);
}

void WindowPointer::cover(const QCursor& cursor) {
    QList<QWidget*> controls;
    collectControls(window_, controls);
    for (QWidget* control : controls) {
        const bool known = std::any_of(covered_.begin(), covered_.end(),
                                       [control](const Covered& c) { return c.widget == control; });
        if (!known)
            covered_.push_back({control, control->testAttribute(Qt::WA_SetCursor)
                                             ? std::optional<QCursor>(control->cursor())
                                             : std::nullopt});
        control->setCursor(cursor);
    }
}

void WindowPointer::uncover() {
    for (const Covered& covered : covered_) {
        if (!covered.widget)
            continue;
        if (covered.own)
            covered.widget->setCursor(*covered.own);
        else
            covered.widget->unsetCursor();
    }
    covered_.clear();
}

void trackMouse(QWidget& control, WindowPointer& pointer, PointerState wanted) {
    auto* moves = new MouseMoves(pointer, wanted, &control);
    control.setMouseTracking(true);
    control.installEventFilter(moves);
    // Moves over a list's items reach its viewport, not the list.
    if (auto* area = qobject_cast<QAbstractScrollArea*>(&control)) {
        area->viewport()->setMouseTracking(true);
        area->viewport()->installEventFilter(moves);
    }
}

} // namespace orv::app
