// Path arithmetic on remote ("/") and Windows-style ("\") paths, and the local file helpers.
#include "listing/paths.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>

#include <gtest/gtest.h>

#include "listing/local_files.h"
#include "scratch_directory.h"

namespace tarnwick {
namespace {

using testing::ScratchDirectory;
using testing::WriteFile;

struct UnaryCase {
    const char* path;
    const char* expected;
};

TEST(PathsTest, ParentPath) {
    const UnaryCase cases[] = {
        {"/pub/x", "/pub"}, {"/pub/x/", "/pub"},   {"/pub", "/"},
        {"/", ""},          {"C:\\a", "C:\\"},     {"C:\\a\\b\\", "C:\\a"},
        {"C:\\", ""},       {"name", ""},          {"a/b", "a"},
        {"", ""},           {"/pub/a\\b", "/pub"},  // a POSIX name may hold "\"
    };
    for (const auto& c : cases) EXPECT_EQ(ParentPath(c.path), c.expected) << c.path;
}

TEST(PathsTest, LastComponent) {
    const UnaryCase cases[] = {
        {"/pub/x/", "x"}, {"/pub/x", "x"},           {"/", "/"},     {"name", "name"},
        {"/pub", "pub"},  {"C:\\a\\f.txt", "f.txt"}, {"C:\\", "C:"}, {"/pub/a\\b", "a\\b"},
    };
    for (const auto& c : cases) EXPECT_EQ(LastComponent(c.path), c.expected) << c.path;
}

TEST(PathsTest, StripAndAppendSeparator) {
    const UnaryCase stripped[] = {
        {"", ""},          {"/", "/"},          {"C:\\", "C:\\"}, {"C:/", "C:/"},
        {"/pub/", "/pub"}, {"/pub//", "/pub/"}, {"name", "name"}, {"/pub", "/pub"},
    };
    for (const auto& c : stripped) EXPECT_EQ(StripTrailingSeparator(c.path), c.expected) << c.path;

    const UnaryCase appended[] = {
        {"/pub", "/pub/"}, {"/pub/", "/pub/"}, {"C:\\a", "C:\\a\\"}, {"name", "name"}, {"", ""},
    };
    for (const auto& c : appended) EXPECT_EQ(AppendSeparator(c.path), c.expected) << c.path;
}

TEST(PathsTest, JoinPath) {
    struct Case {
        const char* directory;
        const char* name;
        char separator;
        const char* expected;
    };
    const Case cases[] = {
        {"/", "pub", kNoSeparator, "/pub"},
        {"/pub/", "x", kNoSeparator, "/pub/x"},
        {"/pub", "x", kNoSeparator, "/pub/x"},
        {"", "x", kNoSeparator, "x"},
        {"", "x", '/', "x"},
        {"C:\\data", "a", kNoSeparator, "C:\\data\\a"},
        {"C:\\", "a", kNoSeparator, "C:\\a"},
        {"/home/u", "a", '\\', "/home/u\\a"},
        {"dir", "x", kNoSeparator, "dirx"},
        {"dir", "x", '/', "dir/x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JoinPath(c.directory, c.name, c.separator), c.expected)
            << c.directory << " + " << c.name;
    }
}

TEST(PathsTest, SeparatorEqualityAndExtension) {
    EXPECT_EQ(PathSeparatorOf("/pub"), '/');
    EXPECT_EQ(PathSeparatorOf("C:\\x"), '\\');
    EXPECT_EQ(PathSeparatorOf("C:/x\\y"), '\\');
    EXPECT_EQ(PathSeparatorOf("/x\\y"), '/');
    EXPECT_EQ(PathSeparatorOf("x"), kNoSeparator);

    EXPECT_TRUE(PathsEqual("/pub", "/pub/"));
    EXPECT_TRUE(PathsEqual("C:\\a\\", "C:\\a"));
    EXPECT_FALSE(PathsEqual("/Pub", "/pub"));
    EXPECT_FALSE(PathsEqual("/pub", "/pub/x"));

    EXPECT_EQ(FileExtension("a.tar.gz"), "gz");
    EXPECT_EQ(FileExtension(".profile"), "profile");
    EXPECT_EQ(FileExtension("README"), "");
    EXPECT_EQ(FileExtension("name."), "");
}

TEST(LocalFilesTest, ExistenceKindAndSize) {
    ScratchDirectory scratch;
    const std::string file = scratch / "f.txt";
    WriteFile(file, "12345");
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(scratch.path()));
    EXPECT_FALSE(FileExists(scratch / "missing"));
    EXPECT_FALSE(FileExists(""));

    EXPECT_EQ(IsDirectoryPath(scratch.path()), 1);
    EXPECT_EQ(IsDirectoryPath(file), 0);
    EXPECT_EQ(IsDirectoryPath(scratch / "missing"), -1);

    EXPECT_EQ(LocalFileSize(file), 5);
    EXPECT_EQ(LocalFileSize(scratch / "missing"), -1);
}

TEST(LocalFilesTest, SizeBeyondFourGigabytes) {
    ScratchDirectory scratch;
    const std::string file = scratch / "sparse";
    const int64_t size = (int64_t{5} << 30) + 7;
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const bool extended = ftruncate(fd, size) == 0;
    close(fd);
    if (!extended) GTEST_SKIP() << "file system refuses a sparse 5 GiB file";
    EXPECT_EQ(LocalFileSize(file), size);
}

TEST(LocalFilesTest, MakeDirectoryPathCreatesAncestors) {
    ScratchDirectory scratch;
    const std::string deep = scratch / "a/b/c";
    EXPECT_TRUE(MakeDirectoryPath(deep));
    EXPECT_EQ(IsDirectoryPath(deep), 1);
    EXPECT_TRUE(MakeDirectoryPath(deep + "/"));  // existing, trailing separator
    WriteFile(scratch / "file", "x");
    EXPECT_FALSE(MakeDirectoryPath(scratch / "file/sub"));
    EXPECT_FALSE(MakeDirectoryPath(""));
}

// Sets environment variables for one test and puts the old values back afterwards.
class EnvironmentOverride {
public:
    void Set(const char* name, const char* value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~EnvironmentOverride() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST(LocalFilesTest, ProgramDirectoryFollowsEnvironment) {
    ScratchDirectory scratch;
    EnvironmentOverride environment;

    environment.Set("TARNWICK_HOME", (scratch / "home").c_str());
    EXPECT_EQ(ProgramDirectory(), scratch / "home/");
    EXPECT_EQ(IsDirectoryPath(scratch / "home"), 1);

    environment.Set("TARNWICK_HOME", "");
    environment.Set("XDG_DATA_HOME", (scratch / "data").c_str());
    EXPECT_EQ(ProgramDirectory(), scratch / "data/tarnwick/");
    EXPECT_EQ(IsDirectoryPath(scratch / "data/tarnwick"), 1);

    environment.Set("TARNWICK_HOME", nullptr);
    environment.Set("XDG_DATA_HOME", "relative/data");  // not absolute: ignored
    environment.Set("HOME", (scratch / "user").c_str());
    EXPECT_EQ(ProgramDirectory(), scratch / "user/.local/share/tarnwick/");
    EXPECT_EQ(IsDirectoryPath(scratch / "user/.local/share/tarnwick"), 1);
}

TEST(LocalFilesTest, TempAndCurrentDirectory) {
    EnvironmentOverride environment;
    environment.Set("TMPDIR", "/var/tmp");
    EXPECT_EQ(TempDirectory(), "/var/tmp/");
    environment.Set("TMPDIR", nullptr);
    EXPECT_EQ(TempDirectory(), "/tmp/");

    char buffer[4096];
    ASSERT_NE(getcwd(buffer, sizeof buffer), nullptr);
    EXPECT_EQ(CurrentDirectory(), buffer);
}

}  // namespace
}  // namespace tarnwick
