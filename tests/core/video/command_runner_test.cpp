#include "core/video/command_runner.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/processes.hpp"
#include "support/temporary_folder.hpp"
#include "support/without_hanging.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;
using std::chrono::steady_clock;

std::string file_content(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A bare program name is looked up along PATH, as a settings file may name it.
Command shell(const std::string& script, std::vector<std::string> arguments = {}) {
    arguments.insert(arguments.begin(), {"-c", script, "sh"});
    return Command{"sh", arguments, {}};
}

// No child of this process is left unreaped.
bool no_child_left() {
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

TEST(CommandRunner, PassesEveryArgumentAsItIs) {
    const std::vector<std::string> arguments = {
        "two words",   "it's \"quoted\"", "a;b|c&d", "$(touch pwned) `id`",
        "line\nbreak", "Grüße ünïcode",   "",        "*",
        "-y"};
    const CommandResult result = run_command(shell("printf '%s\\n' \"$@\" >&2", arguments));
    ASSERT_TRUE(result.succeeded()) << result.last_error_line();
    std::string expected;
    for (const std::string& argument : arguments) expected += argument + "\n";
    EXPECT_EQ(result.error_tail, expected);
}

// How a child ends: by itself, or stopped by the caller once it has touched
// the file named by its first argument (so that its trap is in place).
struct Ending {
    const char* name;
    const char* script;
    bool to_file;
    bool cancel;
    int exit_status;
    const char* last_line;
};

class CommandEnding : public ::testing::TestWithParam<Ending> {};

TEST_P(CommandEnding, ReportsStatusAndErrorOutputAndLeavesNoChild) {
    const Ending& ending = GetParam();
    test::TemporaryFolder folder;
    const fs::path ready = folder / "ready";
    Command command = shell(ending.script, {ready.string()});
    if (ending.to_file) {
        command.error_output_file = folder / "errors.txt";
        std::ofstream(command.error_output_file) << std::string(10000, 'x');
    }
    const steady_clock::time_point start = steady_clock::now();
    const CommandResult result =
        run_command(command, [&] { return !ending.cancel || !fs::exists(ready); });
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_TRUE(result.started) << result.start_error;
    EXPECT_EQ(result.cancelled, ending.cancel);
    EXPECT_EQ(result.exit_status, ending.exit_status);
    EXPECT_EQ(result.last_error_line(), ending.last_line);
    EXPECT_LE(result.error_tail.size(), 4096u);
    if (ending.to_file) {
        EXPECT_EQ(file_content(command.error_output_file), result.error_tail);
    }
    EXPECT_TRUE(no_child_left());
}

INSTANTIATE_TEST_SUITE_P(
    Endings, CommandEnding,
    ::testing::Values(Ending{"ExitCodeAndProgressLines",
                             "printf 'first\\nframe= 1\\rframe= 2 \\r\\n  \\n' >&2; exit 3", false,
                             false, 3, "frame= 2"},
                      Ending{"SignalIntoFile", "echo gone >&2; kill -KILL $$", true, false,
                             128 + SIGKILL, "gone"},
                      // More than a pipe holds: the runner must read while the child writes.
                      Ending{"MuchOutput", "yes 0123456789 | head -n 50000 >&2; echo last >&2",
                             false, false, 0, "last"},
                      Ending{"Cancelled", "echo waiting >&2; touch \"$1\"; exec sleep 30", false,
                             true, 128 + SIGTERM, "waiting"},
                      Ending{"CancelledButIgnoringTerminate",
                             "trap '' TERM; touch \"$1\"; exec sleep 30", true, true, 128 + SIGKILL,
                             ""}),
    [](const ::testing::TestParamInfo<Ending>& info) { return std::string(info.param.name); });

// A cancel stops the whole process group, what the child started included,
// and the child's standard output reaches the reader as it comes.
TEST(CommandRunner, ACancelStopsWhatTheChildStartedAndOutputIsRead) {
    test::TemporaryFolder folder;
    const fs::path pids = folder / "pids";
    std::string output;
    const CommandResult result = run_command(
        shell("sleep 30 & echo \"$!\" > \"$1\"; echo started; wait", {pids.string()}),
        [&] { return output.empty(); }, [&output](std::string_view text) { output += text; });
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.signal, SIGTERM);
    EXPECT_EQ(output, "started\n");
    const pid_t sleeper = static_cast<pid_t>(std::stol(file_content(pids)));
    EXPECT_TRUE(test::process_gone(sleeper));
    EXPECT_TRUE(no_child_left());
}

TEST(CommandRunner, ACommandThatCannotStartRunsNothing) {
    test::TemporaryFolder folder;
    const CommandResult missing = run_command(Command{folder / "no-such-program", {}, {}});
    EXPECT_FALSE(missing.started);
    EXPECT_NE(missing.start_error.find("No such file"), std::string::npos) << missing.start_error;
    EXPECT_EQ(missing.last_error_line(), missing.start_error);

    // An error output file that cannot be made keeps the program from running.
    Command touch = shell("touch \"$1\"", {(folder / "ran").string()});
    touch.error_output_file = folder / "missing folder" / "errors.txt";
    const CommandResult unopened = run_command(touch);
    EXPECT_FALSE(unopened.started);
    EXPECT_NE(unopened.start_error.find("missing folder"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder / "ran"));
    EXPECT_TRUE(no_child_left());
}

TEST(ChildProcess, RunsUntilStoppedAndIsAlwaysReaped) {
    Result<ChildProcess> started = ChildProcess::start(Command{"/bin/sleep", {"30"}, {}});
    ASSERT_TRUE(started) << started.error();
    {
        ChildProcess sleeper = std::move(started.value());
        EXPECT_TRUE(sleeper.running());
        ChildProcess moved = std::move(sleeper);
        EXPECT_FALSE(sleeper.running());
        EXPECT_TRUE(moved.running());
        // The destructor stops and reaps it.
    }
    EXPECT_TRUE(no_child_left());
    EXPECT_FALSE(ChildProcess::start(Command{"/no/such/player", {}, {}}));
}

// A program that fills both its outputs before it reads, and its input
// larger than a pipe holds: neither side waits for the other, and every byte
// arrives.
TEST(CommandFeed, ReadsTheProgramsOutputsWhileFeedingIt) {
    std::string said;
    const CommandResult result = test::without_hanging([&said] {
        CommandFeed feed(shell("head -c 300000 /dev/zero >&2; head -c 300000 /dev/zero; wc -c"),
                         [&said](std::string_view text) { said.append(text); });
        const std::string bytes(4 << 20, 'x');
        const bool fed = feed.write(bytes) == CommandFeed::Fed::All &&
                         feed.write(bytes) == CommandFeed::Fed::All;
        CommandResult ended = feed.finish();
        if (!fed) ended.exit_status = -1;
        return ended;
    });
    EXPECT_TRUE(result.succeeded()) << result.last_error_line();
    ASSERT_EQ(said.size(), 300000u + 8u);
    EXPECT_EQ(said.substr(300000), "8388608\n");
    EXPECT_TRUE(no_child_left());
}

// Variables of the command's own replace inherited ones of their names only.
TEST(CommandRunner, SetsTheCommandsOwnVariablesOverTheInheritedOnes) {
    Command command = shell("echo \"$HOME|$TINTORA_TEST|${PATH:+path}\" >&2");
    command.environment = {"HOME=/elsewhere", "TINTORA_TEST=two words"};
    const CommandResult result = run_command(command);
    EXPECT_EQ(result.last_error_line(), "/elsewhere|two words|path");
    EXPECT_EQ(command_text(command).substr(0, 46),
              "HOME=/elsewhere TINTORA_TEST='two words' sh -c");
}

TEST(CommandText, QuotesOnlyWhatAShellWouldSplitOrExpand) {
    const Command command{
        "/usr/bin/ffmpeg", {"-i", "/my clip's", "", "a=b,c:d+e%f@g-h_./9", "$(x)"}, {}};
    EXPECT_EQ(command_text(command),
              "/usr/bin/ffmpeg -i '/my clip'\\''s' '' a=b,c:d+e%f@g-h_./9 '$(x)'");
}

TEST(PathArgument, NeverLooksLikeAnOptionOrAProtocol) {
    const std::string cwd = fs::current_path().string();
    EXPECT_EQ(path_argument("-y.mp4"), cwd + "/-y.mp4");
    EXPECT_EQ(path_argument("a:b.mp4"), cwd + "/a:b.mp4");
    EXPECT_EQ(path_argument("/clips/./old/../new clip.mp4"), "/clips/new clip.mp4");
}

}  // namespace
}  // namespace tintora
