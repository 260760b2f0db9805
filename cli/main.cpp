#include "cli/ExportCommand.h"
#include "cli/Terminal.h"
#include "sys/Files.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    orv::sys::openClosedStandardStreams();
    orv::sys::forbidCoreDumps();
    orv::cli::catchInterruptions();
    return orv::cli::run(std::vector<std::string>(argv + 1, argv + argc));
}
