#include "core/common/file_io.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>

#include "support/temporary_folder.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

std::string file_content(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void put_file(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

mode_t permissions_of(const fs::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return 0;
    return status.st_mode & 07777;
}

// Bytes of every value, NUL and CR included: the files are written as they are.
std::string all_byte_values(std::size_t length) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return bytes;
}

TEST(WriteFileAtomically, WritesAndReplacesTheWholeContent) {
    test::TemporaryFolder folder;
    const fs::path path = folder / "project.tpr";
    const std::string contents[] = {"KEY=long first value\r\n", "short", all_byte_values(70000),
                                    ""};
    for (const std::string& content : contents) {
        const Status written = write_file_atomically(path, content);
        ASSERT_TRUE(written) << written.error();
        EXPECT_EQ(file_content(path), content);
        EXPECT_EQ(folder.names(), std::set<std::string>{"project.tpr"});
    }
}

TEST(WriteFileAtomically, AnExistingFileKeepsItsPermissions) {
    test::TemporaryFolder folder;
    const fs::path path = folder / "settings.ini";
    for (const mode_t mode : {0600, 0640, 0751, 0664}) {
        put_file(path, "old");
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        ASSERT_TRUE(write_file_atomically(path, "new"));
        EXPECT_EQ(permissions_of(path), mode) << std::oct << mode;
        EXPECT_EQ(file_content(path), "new");
    }
}

TEST(WriteFileAtomically, FailuresNameTheFileAndLeaveNothingBehind) {
    test::TemporaryFolder folder;
    put_file(folder / "plain file", "keep");
    // A target that is a folder with something in it cannot be renamed over.
    fs::create_directory(folder / "taken");
    put_file(folder / "taken" / "inside", "keep");
    // Nor is a FIFO replaced by a plain file, or a circle of links followed.
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    fs::create_symlink("loop", folder / "loop");
    const std::set<std::string> before = folder.names();
    for (const fs::path& path : {folder / "missing" / "a.ini", folder / "plain file" / "a.ini",
                                 folder / "taken", folder / "pipe", folder / "loop"}) {
        const Status written = write_file_atomically(path, "content");
        ASSERT_FALSE(written) << path;
        EXPECT_NE(written.error().find(path.string()), std::string::npos) << written.error();
        EXPECT_EQ(folder.names(), before) << path;
    }
    EXPECT_EQ(file_content(folder / "plain file"), "keep");
    EXPECT_EQ(file_content(folder / "taken" / "inside"), "keep");
    EXPECT_TRUE(fs::is_fifo(folder / "pipe"));
    EXPECT_TRUE(fs::is_symlink(folder / "loop"));
}

// A write that fails halfway (here: over the process's file size limit,
// standing in for a full disk) must leave the old file as it was.
TEST(WriteFileAtomically, AWriteFailingHalfwayKeepsTheOldFileWhole) {
    test::TemporaryFolder folder;
    const fs::path path = folder / "project.tpr";
    put_file(path, "the old project");

    rlimit old_limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    rlimit small_limit = old_limit;
    small_limit.rlim_cur = 4096;
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small_limit), 0);
    const Status written = write_file_atomically(path, all_byte_values(100000));
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);

    ASSERT_FALSE(written);
    EXPECT_FALSE(written.error().empty());
    EXPECT_EQ(file_content(path), "the old project");
    EXPECT_EQ(folder.names(), std::set<std::string>{"project.tpr"});
}

// An output made by someone else (an encoder) under the temporary name: put
// in place on commit, gone without a trace otherwise.
TEST(PendingFile, CommitsOrLeavesTheOldFileByteForByte) {
    test::TemporaryFolder folder;
    const fs::path path = folder / "out.flv";
    put_file(path, "the earlier video");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    {
        Result<PendingFile> pending = PendingFile::create(path);
        ASSERT_TRUE(pending) << pending.error();
        const fs::path temporary = pending.value().temporary();
        EXPECT_EQ(temporary.parent_path(), folder.path());
        EXPECT_EQ(temporary.extension(), ".flv");  // the encoder picks the format by it
        EXPECT_FALSE(pending.value().has_content());
        put_file(temporary, "half a video");
        EXPECT_TRUE(pending.value().has_content());
    }
    EXPECT_EQ(file_content(path), "the earlier video");
    EXPECT_EQ(folder.names(), std::set<std::string>{"out.flv"});

    Result<PendingFile> pending = PendingFile::create(path);
    ASSERT_TRUE(pending);
    put_file(pending.value().temporary(), "the new video");
    ASSERT_TRUE(pending.value().commit());
    EXPECT_EQ(file_content(path), "the new video");
    EXPECT_EQ(permissions_of(path), 0640u);
    EXPECT_EQ(folder.names(), std::set<std::string>{"out.flv"});
}

TEST(PartialPath, ShortensItsOwnNameNeverTheUsers) {
    const std::string pid = std::to_string(::getpid());
    const std::string marks = ".partial" + pid;
    const std::size_t room = 255 - 1 - marks.size();  // the name's part of 255 bytes
    const std::string long_stem(250, 'x');
    // "é" is two bytes: a cut must not split it.
    const std::string accented = std::string(room - 4 - 1, 'a') + "\xC3\xA9\xC3\xA9\xC3\xA9";
    const struct {
        std::string name;
        std::string partial;
    } cases[] = {
        {"out.flv", ".out" + marks + ".flv"},
        {"noext", ".noext" + marks},
        {long_stem + ".flv", "." + std::string(room - 4, 'x') + marks + ".flv"},
        {accented + ".mp4", "." + std::string(room - 4 - 1, 'a') + marks + ".mp4"},
    };
    for (const auto& c : cases) {
        const fs::path partial = partial_path(fs::path("/some/folder") / c.name);
        EXPECT_EQ(partial.parent_path(), "/some/folder");
        EXPECT_EQ(partial.filename().string(), c.partial);
        EXPECT_LE(partial.filename().string().size(), 255u);
    }
    // A name of the longest length there is still gets a temporary name beside it.
    test::TemporaryFolder folder;
    const fs::path longest = folder / (std::string(251, 'y') + ".flv");
    Result<PendingFile> pending = PendingFile::create(longest);
    ASSERT_TRUE(pending) << pending.error();
    ASSERT_TRUE(pending.value().write("bytes"));
    ASSERT_TRUE(pending.value().commit());
    EXPECT_EQ(file_content(longest), "bytes");
}

// The id of a process that has ended.
long ended_process_id() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST(PartialFiles, ThoseOfEndedWritersGoWhenTheNextOutputIsMade) {
    test::TemporaryFolder folder;
    const std::string dead = std::to_string(ended_process_id());
    const std::string alive = std::to_string(::getpid());
    const std::set<std::string> orphans{".out.partial" + dead + ".mp4",
                                        ".out.Ab3xYz.partial" + dead + ".mp4",
                                        ".pic0001.partial" + dead + ".jpg"};
    // A live writer's, a user's file that only looks alike, a link.
    const std::set<std::string> kept{".out.partial" + alive + ".mp4", "out.partial" + dead + ".mp4",
                                     ".out.partial" + dead + ".mp4.bak", "tour.mp4"};
    for (const std::set<std::string>* names : {&orphans, &kept}) {
        for (const std::string& name : *names) put_file(folder / name, "x");
    }
    fs::create_symlink(folder / "tour.mp4", folder / (".link.partial" + dead + ".mp4"));
    EXPECT_EQ(partial_writer(".out.Ab3xYz.partial" + dead + ".mp4"), std::stol(dead));
    EXPECT_FALSE(partial_writer("tour.mp4"));

    Result<PendingFile> pending = PendingFile::create(folder / "tour.mp4");
    ASSERT_TRUE(pending) << pending.error();
    std::set<std::string> expected = kept;
    expected.insert(".link.partial" + dead + ".mp4");
    expected.insert(pending.value().temporary().filename().string());
    EXPECT_EQ(folder.names(), expected);
}

TEST(ReadFileBytes, ReadsEveryByte) {
    test::TemporaryFolder folder;
    // Longer than one read chunk, and empty.
    for (const std::string& content : {all_byte_values(200001), std::string()}) {
        put_file(folder / "data", content);
        const Result<std::vector<std::uint8_t>> read = read_file_bytes(folder / "data");
        ASSERT_TRUE(read) << read.error();
        EXPECT_EQ(std::string(read.value().begin(), read.value().end()), content);
    }
}

TEST(ReadFileBytes, MissingFilesAndFoldersAreErrorsNamingThePath) {
    test::TemporaryFolder folder;
    fs::create_directory(folder / "a folder");
    for (const fs::path& path :
         {folder / "missing", folder / "a folder", folder / "missing" / "x"}) {
        const Result<std::vector<std::uint8_t>> read = read_file_bytes(path);
        ASSERT_FALSE(read) << path;
        EXPECT_NE(read.error().find(path.string()), std::string::npos) << read.error();
    }
}

TEST(ReadFileBytes, MoreThanTheLimitIsAnErrorNamingTheFileAndTheLimit) {
    test::TemporaryFolder folder;
    const fs::path path = folder / "data";
    const std::size_t mib = std::size_t{1} << 20;
    const struct {
        std::size_t size, limit;
        const char* limit_text;  // empty when the read succeeds
    } cases[] = {
        {1000, 1000, ""},
        {1001, 1000, "1000 bytes"},
        {mib + 1, mib, "1 MiB"},
    };
    for (const auto& c : cases) {
        put_file(path, all_byte_values(c.size));
        const Result<std::vector<std::uint8_t>> read = read_file_bytes(path, c.limit);
        if (*c.limit_text == '\0') {
            ASSERT_TRUE(read) << read.error();
            EXPECT_EQ(read.value().size(), c.size);
        } else {
            ASSERT_FALSE(read) << c.size;
            EXPECT_NE(read.error().find(path.string()), std::string::npos) << read.error();
            EXPECT_NE(read.error().find(c.limit_text), std::string::npos) << read.error();
        }
    }
}

}  // namespace
}  // namespace tintora
