// Path arithmetic on remote ("/") and Windows-style ("\") paths, and the local file helpers.
#include "listing/paths.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "listing/local_files.h"
#include "scratch_directory.h"

namespace tarnwick {
namespace {

using testing::ScratchDirectory;
using testing::WriteFile;

using PathFunction = std::string (*)(std::string_view);

TEST(PathsTest, RemoteAndWindowsStylePaths) {
    struct Case {
        PathFunction function;
        const char* path;
        const char* expected;
    };
    // clang-format off
    const Case cases[] = {
        {ParentPath, "/pub/x", "/pub"}, {ParentPath, "/pub/x/", "/pub"}, {ParentPath, "/pub", "/"},
        {ParentPath, "/", ""}, {ParentPath, "C:\\a", "C:\\"}, {ParentPath, "C:\\a\\b\\", "C:\\a"},
        {ParentPath, "C:\\", ""}, {ParentPath, "name", ""}, {ParentPath, "a/b", "a"},
        {ParentPath, "/pub/a\\b", "/pub"},  // a POSIX name may hold "\"
        {LastComponent, "/pub/x/", "x"}, {LastComponent, "/", "/"}, {LastComponent, "name", "name"},
        {LastComponent, "C:\\a\\f", "f"}, {LastComponent, "C:\\", "C:"}, {LastComponent, "/pub/a\\b", "a\\b"},
        {StripTrailingSeparator, "", ""}, {StripTrailingSeparator, "/", "/"}, {StripTrailingSeparator, "C:\\", "C:\\"},
        {StripTrailingSeparator, "C:/", "C:/"}, {StripTrailingSeparator, "/pub//", "/pub/"},
        {AppendSeparator, "/pub", "/pub/"}, {AppendSeparator, "/pub/", "/pub/"},
        {AppendSeparator, "C:\\a", "C:\\a\\"}, {AppendSeparator, "n", "n"},
    };
    // clang-format on
    for (const auto& c : cases) EXPECT_EQ(c.function(c.path), c.expected) << c.path;
    EXPECT_TRUE(PathsEqual("/pub", "/pub/") && PathsEqual("C:\\a\\", "C:\\a"));
    EXPECT_FALSE(PathsEqual("/Pub", "/pub"));
    EXPECT_EQ(JoinPath("/", "pub") + JoinPath("/pub/", "x") + JoinPath("", "x", '/'),
              "/pub/pub/xx");
    EXPECT_EQ(JoinPath("C:\\data", "a") + JoinPath("/home/u", "a", '\\'), "C:\\data\\a/home/u\\a");
    EXPECT_EQ(JoinPath("dir", "x"), "dirx");
}

TEST(LocalFilesTest, ExistenceKindAndSize) {
    ScratchDirectory scratch;
    const std::string file = scratch / "f.txt";
    WriteFile(file, "12345");
    EXPECT_EQ(IsDirectoryPath(file) + IsDirectoryPath(scratch / "missing"), -1);
    EXPECT_EQ(LocalFileSize(scratch / "missing"), -1);
    EXPECT_TRUE(MakeDirectoryPath(scratch / "a/b/c/") && !MakeDirectoryPath(file + "/sub"));

    // Sizes are 64-bit: a sparse file of 5 GiB costs no disk space.
    const uintmax_t big = (uintmax_t{5} << 30) + 7;
    std::error_code error;
    std::filesystem::resize_file(file, big, error);
    EXPECT_EQ(LocalFileSize(file), error ? 5 : static_cast<int64_t>(big));
}

}  // namespace
}  // namespace tarnwick
