#include "app/ErrorReport.h"

#include "app/Constants.h"

#include <new>
#include <stdexcept>

namespace orv::app {

QString errorLocation(const char* module, const char* procedure) {
    return QStringLiteral("in Orvendel2021/08/31.%1.%2 ")
        .arg(QString::fromUtf8(module), QString::fromUtf8(procedure));
}

QString errorReportText(const QString& description, const QString& location, int line) {
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") +
           QString::number(line) + QStringLiteral("\r\r") +
           QStringLiteral("Please email screenshot of this message to ") +
           QString::fromUtf8(supportEmail);
}

void ShowErrorReport(Dialogs& dialogs, QWidget* parent, const QString& description,
                     const QString& location, int line) {
    dialogs.message(parent, errorReportText(description, location, line),
                    QStringLiteral("Application Error"), MessageIcon::Warning);
}

QString describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

void ErrorTrap::report(int line, std::exception_ptr error) {
    ShowErrorReport(dialogs_, parent_, describe(error), location_, line);
}

} // namespace orv::app
