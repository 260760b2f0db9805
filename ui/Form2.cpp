#include "ui/Form2.h"

#include "app/Constants.h"
#include "app/ErrorReport.h"
#include "ui/Form1.h"
#include "ui/GenerateStructure.h"
#include "ui/Waits.h"
#include "ui/Widgets.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

namespace orv::ui {

namespace {
QString location(const char* procedure) {
    return app::errorLocation("Form2", procedure);
}

// The window is designed in twips; 15 twips make a pixel.
QRect twips(int left, int top, int width, int height) {
    return {left / 15, top / 15, width / 15, height / 15};
}
} // namespace

Form2::Form2(AppContext context, Form1& form1)
    : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      context_(std::move(context)), form1_(form1), pointer_(*this) {
    setFixedSize(392, 206);
    setFont(arial(9, true));
    paintWhite(*this);

    Frame1 = new QGroupBox(
        QStringLiteral("Which table do you want to export table structure as a text file?"), this);
    Frame1->setGeometry(twips(120, 120, 5640, 2415));
    paintWhite(*Frame1);

    List1 = new TableListWidget(Frame1);
    List1->setGeometry(twips(240, 300, 5160, 1410));
    List1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    followUserPalette(*List1);
    List1->setToolTip(QStringLiteral("Hold CTRL+Click to select multiple tables"));

    PushButton8 = pushButton(Frame1, QStringLiteral("&Select All"));
    PushButton8->setGeometry(twips(240, 1810, 2565, 405));
    PushButton9 = pushButton(Frame1, QStringLiteral("&Deselect All"));
    PushButton9->setGeometry(twips(2880, 1810, 2520, 405));
    PushButton2 = pushButton(this, QStringLiteral("< &Back"));
    PushButton2->setGeometry(twips(120, 2640, 2775, 405));
    PushButton5 = pushButton(this, QStringLiteral("Save &Results"));
    PushButton5->setGeometry(twips(3000, 2640, 2760, 405));

    QWidget* order[] = {List1, PushButton8, PushButton9, PushButton2, PushButton5};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    setFocusProxy(List1);

    connectClick(PushButton2, this, &Form2::PushButton2_Click);
    connectClick(PushButton5, this, &Form2::PushButton5_Click);
    connectClick(PushButton8, this, &Form2::PushButton8_Click);
    connectClick(PushButton9, this, &Form2::PushButton9_Click);

    for (QWidget* control : std::initializer_list<QWidget*>{this, Frame1, List1})
        app::trackMouse(*control, pointer_, app::PointerDefault);
    for (QWidget* button : {PushButton2, PushButton5, PushButton8, PushButton9})
        app::trackMouse(*button, pointer_, app::PointerCustom);
}

Form2::~Form2() = default;

void Form2::Form_Load() {
    app::ErrorTrap trap(context_.dialogs, this, location("Form_Load"));
    trap.run(100, [&] { app::ApplyWindowColours(*this); });
    trap.run(102, [&] { setWindowIcon(programIcon()); });
    const QString cursor = app::cursorFilePath(context_.applicationFolder);
    if (trap.holds(106, [&] { return app::FileExists(cursor); }))
        trap.run(108, [&] { pointer_.loadCustom(cursor); });
    trap.run(110, [&] { setWindowTitle(QString::fromUtf8(app::productName)); });
    trap.run(112, [&] { pointer_.setState(app::PointerDefault); });
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Form2::PushButton2_Click() {
    app::ErrorTrap trap(context_.dialogs, this, location("PushButton2_Click"));
    trap.run(100, [&] { form1_.show(); });
    trap.run(102, [&] { hide(); });
}

void Form2::setAllSelected(bool selected, const char* procedure) {
    app::ErrorTrap trap(context_.dialogs, this, location(procedure));
    trap.run(102, [&] {
        if (selected)
            List1->selectAll();
        else
            List1->clearSelection();
    });
}

void Form2::PushButton8_Click() {
    setAllSelected(true, "PushButton8_Click");
}

void Form2::PushButton9_Click() {
    setAllSelected(false, "PushButton9_Click");
}

void Form2::PushButton5_Click() {
    app::ErrorTrap trap(context_.dialogs, this, location("PushButton5_Click"));
    if (trap.holds(100, [&] { return List1->currentRow() == -1; })) {
        trap.run(124, [&] {
            context_.dialogs.message(this, QStringLiteral("Please select a table"),
                                     app::applicationTitle(), app::MessageIcon::None);
        });
        return;
    }
    QString fileName;
    trap.run(110, [&] {
        fileName = context_.dialogs.saveFileName(this, QStringLiteral("Select The Text File"),
                                                 QStringLiteral("Text Files (*.txt)|*.txt"));
    });
    if (trap.holds(114, [&] { return fileName.isEmpty(); }))
        return;
    // Any existing entry counts, hidden or not. The old file is replaced only once the new
    // report is complete, so it is not removed here.
    if (trap.holds(116, [&] { return QFileInfo(fileName).exists(); })) {
        bool overwrite = false;
        trap.run(118, [&] {
            overwrite = context_.dialogs.askYesNo(
                this, fileName + QStringLiteral(" Already Exists. Overwrite It?"),
                app::applicationTitle());
        });
        if (!overwrite)
            return;
    }
    trap.run(122, [&] {
        GenerateStructure(*List1, form1_.session(), fileName, context_.dialogs, [this](bool busy) {
            pointer_.setState(busy ? app::PointerBusy : app::PointerDefault);
        });
    });
}

void Form2::closeEvent(QCloseEvent* event) {
    event->accept();
    waits().endProgram();
}

} // namespace orv::ui
