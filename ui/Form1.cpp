#include "ui/Form1.h"

#include "app/Constants.h"
#include "app/ErrorReport.h"
#include "db/Connection.h"
#include "settings/Settings.h"
#include "ui/Form2.h"
#include "ui/MySQL.h"
#include "ui/Waits.h"
#include "ui/Widgets.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScreen>

#include <limits>
#include <optional>

namespace orv::ui {

namespace {

QString location(const char* procedure) {
    return app::errorLocation("Form1", procedure);
}

// The controls inside the frame are placed in window coordinates; the frame sits at (8, 8).
QRect inFrame(int left, int top, int width, int height) {
    return {left - 8, top - 8, width, height};
}

QLineEdit* textBox(QWidget* frame, const QRect& geometry) {
    auto* box = new QLineEdit(frame);
    // No length limit (Qt's default is 32767), so whatever is stored comes back whole.
    box->setMaxLength(std::numeric_limits<int>::max());
    box->setGeometry(geometry);
    box->setFont(arial(9, true));
    followUserPalette(*box);
    return box;
}

// The hourglass for as long as it lives, then the pointer as it was.
class BusyPointer {
public:
    explicit BusyPointer(app::WindowPointer& pointer)
        : pointer_(pointer), before_(pointer.state()) {
        pointer_.setState(app::PointerBusy);
    }
    ~BusyPointer() { pointer_.setState(before_); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

private:
    app::WindowPointer& pointer_;
    app::PointerState before_;
};

} // namespace

int drawFromClock() {
    QRandomGenerator generator(static_cast<quint32>(QDateTime::currentMSecsSinceEpoch()));
    return static_cast<int>(generator.generateDouble() * 100) + 1;
}

Form1::Form1(AppContext context)
    : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      context_(std::move(context)), pointer_(*this) {
    setFixedSize(536, 246);
    setFont(arial(9, false));
    paintWhite(*this);

    Frame1 = new QGroupBox(QStringLiteral("MySQL Login"), this);
    Frame1->setGeometry(8, 8, 520, 193);
    Frame1->setFont(arial(9, true));
    paintWhite(*Frame1);

    Label2 = label(Frame1, QStringLiteral("Server:"));
    Label2->setGeometry(inFrame(24, 35, 73, 17));
    Text1 = textBox(Frame1, inFrame(96, 32, 305, 23));
    Label9 = label(Frame1, QStringLiteral("Port:"));
    Label9->setGeometry(inFrame(408, 35, 33, 17));
    Text5 = textBox(Frame1, inFrame(440, 32, 73, 23));
    Label1 = label(Frame1, QStringLiteral("Username:"));
    Label1->setGeometry(inFrame(24, 67, 73, 17));
    Text2 = textBox(Frame1, inFrame(96, 64, 417, 23));
    Label4 = label(Frame1, QStringLiteral("Password:"));
    Label4->setGeometry(inFrame(24, 99, 73, 17));
    Text3 = textBox(Frame1, inFrame(96, 96, 417, 23));
    Text3->setEchoMode(QLineEdit::Password);
    Text3->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    Label3 = label(Frame1, QStringLiteral("Database:"));
    Label3->setGeometry(inFrame(24, 131, 65, 17));
    Text4 = textBox(Frame1, inFrame(96, 128, 417, 23));
    PushButton5 = pushButton(Frame1, QStringLiteral("&Test Connection"));
    PushButton5->setGeometry(inFrame(24, 160, 240, 27));
    PushButton4 = pushButton(Frame1, QStringLiteral("&Help"));
    PushButton4->setGeometry(inFrame(272, 160, 240, 27));
    PushButton3 = pushButton(this, QStringLiteral("&Next >"));
    PushButton3->setGeometry(8, 210, 520, 27);
    PushButton3->setDefault(true);
    for (QLabel* text : {Label1, Label2, Label3, Label4, Label9})
        text->setFont(arial(9, true));

    // Tab order: server, port, user, password, database, then the three buttons.
    QWidget* order[] = {Text1, Text5, Text2, Text3, Text4, PushButton5, PushButton4, PushButton3};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    const std::pair<QLineEdit*, const char*> boxes[] = {{Text1, settings::MyServer},
                                                        {Text2, settings::MyUser},
                                                        {Text3, settings::MyPassword},
                                                        {Text4, settings::MyDatabase},
                                                        {Text5, settings::MyPort}};
    const std::pair<QLabel*, QLineEdit*> buddies[] = {
        {Label2, Text1}, {Label9, Text5}, {Label1, Text2}, {Label4, Text3}, {Label3, Text4}};
    for (const auto& [caption, box] : buddies)
        caption->setBuddy(box);
    for (const auto& [box, key] : boxes) {
        const QString name = QString::fromUtf8(key);
        // A failed write is not reported: the value stays in the box and is written again
        // with the next keystroke.
        connect(box, &QLineEdit::textChanged, this,
                [name](const QString& text) { settings::WriteSetting(name, text); });
        box->installEventFilter(this);
        connect(box, &QLineEdit::returnPressed, PushButton3, &QPushButton::click);
    }

    connectClick(PushButton3, this, &Form1::PushButton3_Click);
    connectClick(PushButton4, this, &Form1::PushButton4_Click);
    connectClick(PushButton5, this, &Form1::PushButton5_Click);

    for (QWidget* control :
         std::initializer_list<QWidget*>{this, Frame1, Text1, Text2, Text3, Text4})
        app::trackMouse(*control, pointer_, app::PointerDefault);
    for (QWidget* button : {PushButton3, PushButton4, PushButton5})
        app::trackMouse(*button, pointer_, app::PointerCustom);

    // Centred whenever it is first shown, by start-up or by "< Back".
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

Form1::~Form1() = default;

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn)
        if (auto* box = qobject_cast<QLineEdit*>(watched))
            box->selectAll();
    // Alt with a letter is meant for a button; one without a button must not type the letter
    // into the field (and the settings). Ctrl+Alt is AltGr on some keyboards.
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers().testFlag(Qt::AltModifier) &&
            !key->modifiers().testFlag(Qt::ControlModifier) && !key->text().isEmpty())
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

db::Login Form1::login() const {
    return {Text1->text().toStdString(), Text2->text().toStdString(), Text3->text().toStdString(),
            Text4->text().toStdString(), Text5->text().toStdString()};
}

Form2& Form1::form2() {
    if (!form2_) {
        form2_ = std::make_unique<Form2>(context_, *this);
        form2_->Form_Load();
    }
    return *form2_;
}

void Form1::Form_Load() {
    app::ErrorTrap trap(context_.dialogs, this, location("Form_Load"));
    trap.run(100, [&] { app::ApplySkin(*this, SkinFramework1, context_.applicationFolder); });
    trap.run(104, [&] {
        setWindowTitle(QString::fromUtf8(app::productName));
        setWindowIcon(programIcon());
        app::SetApplicationTitle();
    });
    trap.run(106, [&] {
        if (context_.drawVendorNumber() == 7)
            context_.openUrl(QUrl(QString::fromUtf8(app::vendorHomePage)));
    });
    const QString cursor = app::cursorFilePath(context_.applicationFolder);
    if (trap.holds(124, [&] { return app::FileExists(cursor); }))
        trap.run(126, [&] { pointer_.loadCustom(cursor); });
    // The store is read once, at the first of the five fields.
    std::optional<settings::StoredLogin> saved;
    trap.run(128, [&] {
        saved = settings::readStoredLogin();
        Text1->setText(saved->server);
    });
    trap.run(130, [&] { Text2->setText(saved.value().user); });
    trap.run(132, [&] { Text3->setText(saved.value().password); });
    trap.run(134, [&] { Text4->setText(saved.value().database); });
    trap.run(136, [&] { Text5->setText(saved.value().port); });
    if (saved && !saved->warning.isEmpty())
        context_.dialogs.message(this, saved->warning, app::applicationTitle(),
                                 app::MessageIcon::Warning);
    const bool complete = trap.holds(138, [&] {
        return !Text1->text().isEmpty() && !Text2->text().isEmpty() && !Text3->text().isEmpty() &&
               !Text4->text().isEmpty();
    });
    {
        const Waits::Working working(waits());
        // A test that takes a while shows the login window meanwhile, with the hourglass.
        std::optional<BusyPointer> busy;
        const auto showWaiting = [this, &busy] {
            showLoginWindow();
            busy.emplace(pointer_);
        };
        if (complete &&
            trap.holds(140,
                       [&] {
                           const db::Login stored = login();
                           return waits().run([this, stored] { return session_.test(stored); },
                                              showWaiting);
                       }) &&
            !waits().ending())
            trap.run(142, [&] { PushButton3_Click(); });
    }
    if (!movedOn_ && !waits().ending())
        showLoginWindow();
}

void Form1::showLoginWindow() {
    show();
    Text1->setFocus(Qt::OtherFocusReason);
}

void Form1::PushButton3_Click() {
    const Waits::Working working(waits());
    const BusyPointer busy(pointer_);
    app::ErrorTrap trap(context_.dialogs, this, location("PushButton3_Click"));
    if (!trap.holds(100,
                    [&] {
                        const db::Login current = login();
                        return waits().run([this, current] { return session_.test(current); });
                    }) ||
        waits().ending())
        return;
    trap.run(102, [&] { AddMySQLToList1(*form2().List1, session_, context_.dialogs); });
    if (waits().ending())
        return;
    trap.run(104, [&] { form2().show(); });
    trap.run(106, [&] {
        hide();
        movedOn_ = true;
    });
}

void Form1::PushButton4_Click() {
    app::ErrorTrap trap(context_.dialogs, this, location("PushButton4_Click"));
    const QString text =
        QStringLiteral("If you cannot establish connection to your database with this program, "
                       "please go to: \r\r") +
        QString::fromUtf8(app::workbenchDownloadPage) + QStringLiteral("\r\r") +
        QStringLiteral("Download and install the MySQL Workbench. Try to connect to the same "
                       "database (with the same login information you are using here). This will "
                       "determine if the login you are using is correct.\r\r") +
        QStringLiteral("Finally, make sure your host allows a direct connection to your MySQL "
                       "database -- not a web based connection, for example.");
    trap.run(112, [&] {
        context_.dialogs.message(this, text, app::applicationTitle(), app::MessageIcon::None);
    });
}

void Form1::PushButton5_Click() {
    const Waits::Working working(waits());
    app::ErrorTrap trap(context_.dialogs, this, location("PushButton5_Click"));
    std::unique_ptr<db::Connection> connection;
    if (!trap.run(100, [&] { connection = std::make_unique<db::Connection>(); }))
        return;
    pointer_.setState(app::PointerBusy);
    bool connected = false;
    QString cause;
    try {
        const db::Login current = login();
        waits().run([&connection, &current] { connection->open(current); });
        connected = true;
    } catch (const std::exception& e) {
        // Every cause ends in the same advice; the driver's own words are the details.
        cause = QString::fromUtf8(e.what());
    }
    if (waits().ending())
        return;
    context_.dialogs.message(
        this,
        connected ? QStringLiteral("Connection successful.")
                  : QStringLiteral("Could not connect. Please check with your administrator. "
                                   "Make sure you allowed to connect to your database remotely "
                                   "and not just through web-based control panels."),
        app::applicationTitle(), app::MessageIcon::None, cause);
    pointer_.setState(app::PointerDefault);
}

void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    waits().endProgram();
}

} // namespace orv::ui
