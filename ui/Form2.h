#pragma once

#include "app/Style.h"
#include "ui/AppContext.h"

#include <QWidget>

class QGroupBox;
class QListWidget;
class QPushButton;

namespace orv::ui {

class Form1;

// The table selection window: pick tables, select or clear all, go back, save the report.
class Form2 : public QWidget {
public:
    Form2(AppContext context, Form1& form1);
    ~Form2() override;

    void Form_Load();

    void PushButton2_Click(); // "< Back"
    void PushButton5_Click(); // "Save Results"
    void PushButton8_Click(); // "Select All"
    void PushButton9_Click(); // "Deselect All"

    app::WindowPointer& pointer() { return pointer_; }

    QGroupBox* Frame1;
    QListWidget* List1;
    QPushButton* PushButton2;
    QPushButton* PushButton5;
    QPushButton* PushButton8;
    QPushButton* PushButton9;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void setAllSelected(bool selected, const char* procedure);

    AppContext context_;
    Form1& form1_;
    app::WindowPointer pointer_;
};

} // namespace orv::ui
