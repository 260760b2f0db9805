#pragma once

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

// The icon of the program.
QIcon programIcon();

} // namespace orv::ui
