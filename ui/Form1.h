#pragma once

#include "app/Style.h"
#include "db/Login.h"
#include "db/Session.h"
#include "ui/AppContext.h"

#include <QWidget>

#include <memory>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace orv::ui {

class Form2;

// The login window: the five login fields, each saved as it is typed, a connection test, help,
// and "Next >" to the table list. Its load is the program's start-up.
class Form1 : public QWidget {
public:
    explicit Form1(AppContext context);
    ~Form1() override;

    // The start-up sequence: look, title, stored login, and straight on to the table list when
    // the stored login is complete and works. Shows the window unless it moved on.
    void Form_Load();

    void PushButton3_Click(); // "Next >"
    void PushButton4_Click(); // "Help"
    void PushButton5_Click(); // "Test Connection"

    db::Login login() const;
    // The connection the table list and the reports use, opened by "Next >" (or the start-up's
    // check of the stored login) and kept while the login stays the same.
    db::Session& session() noexcept { return session_; }
    Form2& form2();
    bool hasForm2() const noexcept { return form2_ != nullptr; }
    app::WindowPointer& pointer() { return pointer_; }

    QGroupBox* Frame1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label9;
    QLineEdit* Text1;
    QLineEdit* Text2;
    QLineEdit* Text3;
    QLineEdit* Text4;
    QLineEdit* Text5;
    QPushButton* PushButton3;
    QPushButton* PushButton4;
    QPushButton* PushButton5;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showLoginWindow();

    AppContext context_;
    app::SkinFramework SkinFramework1;
    app::WindowPointer pointer_;
    db::Session session_;
    std::unique_ptr<Form2> form2_;
    bool movedOn_ = false;
};

} // namespace orv::ui
