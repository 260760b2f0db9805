#include "cli/ExportCommand.h"
#include "cli/Terminal.h"
#include "db/Deadline.h"
#include "sys/Files.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    orv::sys::openClosedStandardStreams();
    orv::sys::forbidCoreDumps();
    orv::cli::catchInterruptions();
    const int status = orv::cli::run(std::vector<std::string>(argv + 1, argv + argc));
    // A connection attempt given up at its deadline may still run inside the driver or OpenSSL:
    // the libraries' exit handlers must not tear down what it is using. Everything the command
    // says was written with write(2), so nothing is lost.
    if (orv::db::waitForAbandonedWork(std::chrono::milliseconds(0)) > 0)
        std::_Exit(status);
    return status;
}
