#pragma once

namespace orv::ui {

// Closing either window ends the program at once; a running export is abandoned without
// leaving a file behind.
void endProgram();
bool programEnding() noexcept;

} // namespace orv::ui
