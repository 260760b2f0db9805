#include "ui/Program.h"

#include "ui/Waits.h"

namespace orv::ui {

void endProgram() {
    waits().endProgram();
}

bool programEnding() noexcept {
    return waits().ending();
}

} // namespace orv::ui
