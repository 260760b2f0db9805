#pragma once

#include <QListWidget>
#include <QString>

class QFont;
class QIcon;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace orv::ui {

QFont arial(double points, bool bold);

// Controls as the windows are designed: white buttons in Arial 11.25 pt bold that are not
// the default button, white labels.
QPushButton* pushButton(QWidget* parent, const QString& caption);
QLabel* label(QWidget* parent, const QString& caption);
void paintWhite(QWidget& widget);
// Every colour from the user's scheme, none from a white parent: for text boxes and lists.
void followUserPalette(QWidget& widget);

// The table list. An item shows its name as its tooltip only where the list cuts the name off;
// everywhere else the list's own tooltip shows.
class TableListWidget : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    bool viewportEvent(QEvent* event) override;

private:
    bool cutOff(const QListWidgetItem& item) const;
};

// The icon of the program.
QIcon programIcon();

} // namespace orv::ui
