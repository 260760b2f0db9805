#pragma once

#include <QString>

class QWidget;

namespace orv::app {

enum class MessageIcon { None, Warning };

// Every modal question the program asks goes through this, so tests can answer it.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A message with an OK button only; details, when given, behind a "Show Details..." button.
    virtual void message(QWidget* parent, const QString& text, const QString& title,
                         MessageIcon icon, const QString& details = {}) = 0;
    virtual bool askYesNo(QWidget* parent, const QString& text, const QString& title) = 0;
    // The chosen path, or an empty text when the user cancels. The filter has the form
    // "Description|pattern|Description|pattern".
    virtual QString saveFileName(QWidget* parent, const QString& title, const QString& filter) = 0;
};

class QtDialogs final : public Dialogs {
public:
    void message(QWidget* parent, const QString& text, const QString& title, MessageIcon icon,
                 const QString& details) override;
    bool askYesNo(QWidget* parent, const QString& text, const QString& title) override;
    QString saveFileName(QWidget* parent, const QString& title, const QString& filter) override;
};

// "Text Files (*.txt)|*.txt" in the form Qt's file dialogs take.
QString qtFileFilter(const QString& filter);

// The caption of every message box that is given no title of its own.
QString applicationTitle();
void setApplicationTitleText(const QString& title);

} // namespace orv::app
