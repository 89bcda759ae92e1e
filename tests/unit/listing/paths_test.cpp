// Path arithmetic on remote ("/") and Windows-style ("\") paths, and the local file helpers.
#include "listing/paths.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "listing/local_files.h"
#include "scoped_variable.h"
#include "scratch_directory.h"

namespace tarnwick {
namespace {

using testing::ScopedVariable;
using testing::ScratchDirectory;
using testing::WriteFile;

struct Case {
    const char* path;
    const char* expected;
};

TEST(PathsTest, ParentAndLastComponent) {
    const Case parents[] = {
        {"/pub/x", "/pub"}, {"/pub/x/", "/pub"},     {"/pub", "/"}, {"/", ""},
        {"C:\\a", "C:\\"},  {"C:\\a\\b\\", "C:\\a"}, {"C:\\", ""},  {"name", ""},
        {"a/b", "a"},       {"/pub/a\\b", "/pub"},  // a POSIX name may hold "\"
    };
    for (const auto& c : parents) EXPECT_EQ(ParentPath(c.path), c.expected) << c.path;
    const Case lasts[] = {
        {"/pub/x/", "x"},  {"/", "/"},     {"name", "name"},
        {"C:\\a\\f", "f"}, {"C:\\", "C:"}, {"/pub/a\\b", "a\\b"},
    };
    for (const auto& c : lasts) EXPECT_EQ(LastComponent(c.path), c.expected) << c.path;
}

TEST(PathsTest, SeparatorsAtTheEnd) {
    const Case stripped[] = {
        {"", ""}, {"/", "/"}, {"C:\\", "C:\\"}, {"C:/", "C:/"}, {"/pub//", "/pub/"}, {"n", "n"},
    };
    for (const auto& c : stripped) EXPECT_EQ(StripTrailingSeparator(c.path), c.expected) << c.path;
    const Case appended[] = {
        {"/pub", "/pub/"}, {"/pub/", "/pub/"}, {"C:\\a", "C:\\a\\"}, {"n", "n"}};
    for (const auto& c : appended) EXPECT_EQ(AppendSeparator(c.path), c.expected) << c.path;

    EXPECT_TRUE(PathsEqual("/pub", "/pub/"));
    EXPECT_TRUE(PathsEqual("C:\\a\\", "C:\\a"));
    EXPECT_FALSE(PathsEqual("/Pub", "/pub"));
    EXPECT_EQ(PathSeparatorOf("C:/x\\y"), '\\');
    EXPECT_EQ(PathSeparatorOf("x"), kNoSeparator);
}

TEST(PathsTest, JoinPathAndExtension) {
    EXPECT_EQ(JoinPath("/", "pub"), "/pub");
    EXPECT_EQ(JoinPath("/pub/", "x"), "/pub/x");
    EXPECT_EQ(JoinPath("", "x", '/'), "x");
    EXPECT_EQ(JoinPath("C:\\data", "a"), "C:\\data\\a");
    EXPECT_EQ(JoinPath("/home/u", "a", '\\'), "/home/u\\a");
    EXPECT_EQ(JoinPath("dir", "x"), "dirx");

    EXPECT_EQ(FileExtension("a.tar.gz"), "gz");
    EXPECT_EQ(FileExtension("README"), "");
}

TEST(LocalFilesTest, ExistenceKindAndSize) {
    ScratchDirectory scratch;
    const std::string file = scratch / "f.txt";
    WriteFile(file, "12345");
    EXPECT_EQ(IsDirectoryPath(file), 0);
    EXPECT_EQ(IsDirectoryPath(scratch / "missing"), -1);
    EXPECT_EQ(LocalFileSize(scratch / "missing"), -1);
    EXPECT_TRUE(MakeDirectoryPath(scratch / "a/b/c/"));
    EXPECT_FALSE(MakeDirectoryPath(file + "/sub"));

    // Sizes are 64-bit: a sparse file of 5 GiB costs no disk space.
    const uintmax_t big = (uintmax_t{5} << 30) + 7;
    std::error_code error;
    std::filesystem::resize_file(file, big, error);
    EXPECT_EQ(LocalFileSize(file), error ? 5 : static_cast<int64_t>(big));
}

TEST(LocalFilesTest, ProgramAndTempDirectoriesFollowTheEnvironment) {
    ScratchDirectory scratch;
    ScopedVariable tarnwickHome("TARNWICK_HOME", (scratch / "home").c_str());
    ScopedVariable dataHome("XDG_DATA_HOME", (scratch / "data").c_str());
    ScopedVariable home("HOME", (scratch / "user").c_str());
    ScopedVariable tmp("TMPDIR", "/var/tmp");

    EXPECT_EQ(ProgramDirectory(), scratch / "home/");
    EXPECT_EQ(IsDirectoryPath(scratch / "home"), 1);
    tarnwickHome.Set("");  // empty counts as unset
    EXPECT_EQ(ProgramDirectory(), scratch / "data/tarnwick/");
    dataHome.Set("relative/data");  // not absolute: ignored
    EXPECT_EQ(ProgramDirectory(), scratch / "user/.local/share/tarnwick/");
    EXPECT_EQ(IsDirectoryPath(scratch / "user/.local/share/tarnwick"), 1);

    EXPECT_EQ(TempDirectory(), "/var/tmp/");
    tmp.Set(nullptr);
    EXPECT_EQ(TempDirectory(), "/tmp/");
}

}  // namespace
}  // namespace tarnwick
