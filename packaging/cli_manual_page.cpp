#include "packaging/cli_manual_page.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string_view>
#include <vector>

namespace tintora {
namespace {

// Text as roff prints it: backslashes and hyphens escaped (a plain "-" may
// be set as a hyphen, not the minus an option starts with), no request
// started by a leading dot or quote.
std::string roff(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\') {
            escaped += "\\e";
        } else if (c == '-') {
            escaped += "\\-";
        } else {
            escaped += c == '\n' ? ' ' : c;
        }
    }
    if (!escaped.empty() && (escaped.front() == '.' || escaped.front() == '\'')) {
        escaped.insert(0, "\\&");
    }
    return escaped;
}

std::string bold(std::string_view text) { return "\\fB" + roff(text) + "\\fR"; }
std::string italic(std::string_view text) { return "\\fI" + roff(text) + "\\fR"; }

// Options in the help's order; the empty group is CLI11's mark of a hidden
// one. The help of commands and groups is said once, not with each.
std::vector<const CLI::Option*> shown_options(const CLI::App& app, bool positional) {
    const CLI::Option* said_once = app.get_parent() != nullptr ? app.get_help_ptr() : nullptr;
    return app.get_options([positional, said_once](const CLI::Option* option) {
        return !option->get_group().empty() && option->nonpositional() != positional &&
               option != said_once;
    });
}

// The groups a command's options are gathered in, such as render's outputs.
std::vector<const CLI::App*> option_groups(const CLI::App& command) {
    return command.get_subcommands([](const CLI::App* sub) { return sub->get_name().empty(); });
}

std::vector<const CLI::App*> commands(const CLI::App& app) {
    return app.get_subcommands([](const CLI::App* sub) { return !sub->get_name().empty(); });
}

// What the option takes, named as --help names it after its type: NAME,
// FILE, {colour,brightness}, INT in [1 - 256].
std::string value_name(const CLI::Option& option) {
    const std::string type = option.get_type_name();
    return type.substr(type.rfind(':') + 1);  // npos + 1 is 0: the whole type
}

std::string option_heading(const CLI::Option& option) {
    std::vector<std::string> names;
    for (const std::string& name : option.get_snames()) names.push_back(bold("-" + name));
    for (const std::string& name : option.get_lnames()) names.push_back(bold("--" + name));
    std::string heading;
    for (const std::string& name : names) heading += (heading.empty() ? "" : ", ") + name;
    if (option.get_type_size() != 0 && !value_name(option).empty()) {
        heading += " " + italic(value_name(option));
    }
    return heading;
}

std::string option_entry(const CLI::Option& option) {
    std::string text = option.get_description();
    std::vector<std::string> excluded;
    for (const CLI::Option* other : option.get_excludes()) excluded.push_back(other->get_name());
    std::sort(excluded.begin(), excluded.end());
    for (const std::string& name : excluded) text += "; not with " + name;
    const std::string heading =
        option.nonpositional() ? option_heading(option) : italic(option.get_name());
    return ".TP\n" + heading + "\n" + roff(text) + "\n";
}

std::string group_requirement(const CLI::App& group) {
    const std::size_t least = group.get_require_option_min();
    const std::size_t most = group.get_require_option_max();
    if (least == 1 && most == 1) return "exactly one of";
    if (least > 0) return "at least " + std::to_string(least) + " of";
    return "any of";
}

std::string command_synopsis(const std::string& program, const CLI::App& command) {
    std::string line = bold(program + " " + command.get_name()) + " [\\fIoptions\\fR]";
    for (const CLI::Option* argument : shown_options(command, true)) {
        line += argument->get_required() ? " " + italic(argument->get_name())
                                         : " [" + italic(argument->get_name()) + "]";
    }
    return line;
}

std::string command_section(const std::string& program, const CLI::App& command) {
    std::string page = ".SS \"" + roff(command.get_name()) + "\"\n";
    page += command_synopsis(program, command) + "\n.PP\n" + roff(command.get_description()) + "\n";
    for (const CLI::Option* argument : shown_options(command, true))
        page += option_entry(*argument);
    for (const CLI::Option* option : shown_options(command, false)) page += option_entry(*option);
    for (const CLI::App* group : option_groups(command)) {
        page += ".PP\n" + roff(group->get_description()) + ", " + group_requirement(*group) + ":\n";
        page += ".RS\n";
        for (const CLI::Option* option : shown_options(*group, false))
            page += option_entry(*option);
        page += ".RE\n";
    }
    return page;
}

// "Renders and checks ... window." as a NAME line wants it: "renders ... window".
std::string summary(std::string description) {
    if (!description.empty() && description.back() == '.') description.pop_back();
    if (!description.empty()) {
        description.front() =
            static_cast<char>(std::tolower(static_cast<unsigned char>(description.front())));
    }
    return description;
}

constexpr const char* kClosingSections = R"(.SH EXIT STATUS
.TP
0
done
.TP
1
a failure, said on standard error
.TP
2
wrong arguments
.TP
130, 143
stopped by SIGINT or SIGTERM; temporary outputs and the private working folder are removed
.SH ENVIRONMENT
.TP
.B TMPDIR
where private working folders are made (else \fI/tmp\fR)
.SH FILES
.TP
.I Tintora.ini
The settings file of Tintora, whose FFMPEG line names the encoder when
\fB\-\-ffmpeg\fR leaves it out: beside the program when one is there or the
program runs from its build folder, else
\fI$XDG_CONFIG_HOME/tintora/Tintora.ini\fR (\fI~/.config/tintora/Tintora.ini\fR).
.SH SEE ALSO
.BR tintora (1),
.BR ffmpeg (1)
)";

}  // namespace

std::string cli_manual_page(const CLI::App& app, const std::string& version) {
    const std::string program = std::filesystem::path(app.get_name()).filename().string();
    std::string title = program;
    std::transform(title.begin(), title.end(), title.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    std::string page =
        ".TH " + roff(title) + " 1 \"\" \"Tintora " + roff(version) + "\" \"User Commands\"\n";
    page += ".SH NAME\n" + roff(program) + " \\- " + roff(summary(app.get_description())) + "\n";
    page += ".SH SYNOPSIS\n";
    for (const CLI::App* command : commands(app)) {
        page += command_synopsis(program, *command) + "\n.br\n";
    }
    page += bold(program) + " " + bold("--help") + " | " + bold("--version") + "\n";
    page += ".SH DESCRIPTION\n" + roff(app.get_description()) + "\n";
    page += ".SH OPTIONS\n";
    for (const CLI::Option* option : shown_options(app, false)) page += option_entry(*option);
    page += ".SH COMMANDS\nEach command also takes " + bold("-h") + ", " + bold("--help") +
            ": its own help.\n";
    for (const CLI::App* command : commands(app)) page += command_section(program, *command);
    return page + kClosingSections;
}

}  // namespace tintora
