#pragma once

#include <string>

namespace CLI {
class App;
}

namespace tintora {

// The manual page (roff, section 1) of tintora-cli made from its own parser:
// every command, argument and option --help shows, so the page cannot say
// other than the program does. The build writes it with `tintora-cli --man`.
std::string cli_manual_page(const CLI::App& app, const std::string& version);

}  // namespace tintora
