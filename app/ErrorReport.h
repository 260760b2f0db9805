#pragma once

#include "app/Dialogs.h"

#include <QString>

#include <exception>
#include <utility>

class QWidget;

namespace orv::app {

// "in Orvendel2021/08/31.<module>.<procedure> "
QString errorLocation(const char* module, const char* procedure);

QString errorReportText(const QString& description, const QString& location, int line);

// The uniform "Application Error" box.
void ShowErrorReport(Dialogs& dialogs, QWidget* parent, const QString& description,
                     const QString& location, int line);

// The description of an exception as the user should read it.
QString describe(std::exception_ptr error);

// The error trap of a user-facing procedure: each numbered step runs on its own, a failing step
// is reported with its line number and the procedure goes on with the next step.
class ErrorTrap {
public:
    ErrorTrap(Dialogs& dialogs, QWidget* parent, QString location)
        : dialogs_(dialogs), parent_(parent), location_(std::move(location)) {}

    // Runs one step; false when it failed (and was reported).
    template <class Step> bool run(int line, Step&& step) {
        try {
            std::forward<Step>(step)();
            return true;
        } catch (...) {
            report(line, std::current_exception());
            return false;
        }
    }

    // The condition of an if block: a failing condition is reported and counts as held.
    template <class Condition> bool holds(int line, Condition&& condition) {
        try {
            return std::forward<Condition>(condition)();
        } catch (...) {
            report(line, std::current_exception());
            return true;
        }
    }

    void report(int line, std::exception_ptr error);

private:
    Dialogs& dialogs_;
    QWidget* parent_;
    QString location_;
};

} // namespace orv::app
