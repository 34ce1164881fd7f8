#pragma once

#include <string>
#include <vector>

#include "core/video/command_runner.hpp"

namespace tintora::test {

// Runs the built tintora-cli with the arguments; the encoder the tests use
// is passed where a command takes one.
inline CommandResult run_cli(std::vector<std::string> arguments) {
    return run_command(Command{TINTORA_CLI, std::move(arguments), {}});
}

}  // namespace tintora::test
