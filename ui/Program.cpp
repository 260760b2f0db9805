#include "ui/Program.h"

#include <QCoreApplication>

namespace orv::ui {

namespace {
bool ending = false;
}

void endProgram() {
    ending = true;
    QCoreApplication::quit();
}

bool programEnding() noexcept {
    return ending;
}

} // namespace orv::ui
