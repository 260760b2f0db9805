#include "cli/ExportCommand.h"
#include "cli/Terminal.h"

#include <csignal>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    orv::cli::catchInterruptions();
    const int status = orv::cli::run(std::vector<std::string>(argv + 1, argv + argc));
    // Dying of the signal tells the shell the command was stopped, not that it failed.
    if (int signal = orv::cli::interruption()) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return status;
}
