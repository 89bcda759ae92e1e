// tarnwick-cli on whole trees against a real FTP server: get, put (and what the local walk
// leaves alone) and rm of directories, cache and the offline search, and queue run of a queue
// file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "cli_fixture.h"
#include "queue/queue_file.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

// Every file (relative path → a hash of its bytes, so that a mismatch reads short) and every
// directory (relative path + "/") below `root`; empty when `root` is no directory.
std::map<std::string, size_t> Tree(const fs::path& root) {
    std::map<std::string, size_t> tree;
    if (!fs::is_directory(root)) return tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).string();
        if (entry.is_directory()) {
            tree[relative + "/"] = 0;
        } else {
            tree[relative] = std::hash<std::string>{}(ReadFile(entry.path()));
        }
    }
    return tree;
}

// Text lines for the files the automatic transfer type sends as ASCII.
std::string TextLines(size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) text += "line " + std::to_string(i * 7919) + " of text\n";
    return text;
}

// A few dozen files of assorted sizes in nested directories (binary ".bin" and text ".txt"
// files, an empty one among them) and an empty directory.
void MakeTree(const fs::path& root) {
    const std::vector<std::string> dirs = {"", "a", "a/b", "a/b/c", "d", "d/e"};
    size_t size = 0;
    for (const std::string& dir : dirs) {
        fs::create_directories(root / dir);
        for (int i = 0; i < 6; ++i) {
            const bool text = i % 2 == 1;
            WriteFile(root / dir / ("f" + std::to_string(i) + (text ? ".txt" : ".bin")),
                      text ? TextLines(size / 20) : Pattern(size));
            size = size * 3 + 7 + static_cast<size_t>(i);
            if (size > 200'000) size = 0;
        }
    }
    fs::create_directories(root / "empty");
}

// The graphical client's settings apply: here no extension is sent as ASCII, so that the
// text files travel as bytes too. A big file beside the tree spans many reads and writes. In
// the tree a link to one of its files arrives as that file; a link out of the tree, a link to
// a directory (a loop, here) and a FIFO (reading it would block the upload for ever) are left
// alone, each with a warning.
TEST_P(CliRealServerTest, PutAndGetOfATreeAreByteIdenticalAndRmRemovesIt) {
    WriteSettings("TextFileExtension=asc\n");
    const fs::path tree = scratch / "up" / "tree";
    MakeTree(tree);
    WriteFile(scratch / "up" / "big.bin", Pattern(3 * 1024 * 1024 + 17));
    fs::create_directory(real.Root() / "up");
    auto original = Tree(scratch / "up");
    ASSERT_GE(original.size(), 40u);
    original["tree/in.bin"] = original["tree/f0.bin"];
    fs::create_symlink(tree / "f0.bin", tree / "in.bin");
    fs::create_symlink(scratch / "up" / "big.bin", tree / "out.bin");
    fs::create_directory_symlink(tree, tree / "d" / "loop");
    ASSERT_EQ(::mkfifo((tree / "fifo").c_str(), 0600), 0);

    CliResult result =
        RunMode({"-v", "put", (scratch / "up" / "big.bin").string(), tree.string(), Url("/up/")});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(
        std::ranges::count_if(Lines(result.err),
                              [](const std::string& l) { return l.starts_with("Warning:>"); }),
        3);
    EXPECT_EQ(Tree(real.Root() / "up"), original);
    result = RunMode({"get", Url("/up/"), (scratch / "down").string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Tree(scratch / "down" / "up"), original);

    // A directory is named by a trailing "/": without it rm deletes files only.
    WriteFile(real.Root() / "kept.txt", "stays");
    EXPECT_NE(RunMode({"rm", Url("/up")}).status, 0);
    EXPECT_TRUE(fs::exists(real.Root() / "up" / "tree" / "a" / "b" / "c" / "f0.bin"));
    result = RunMode({"rm", Url("/up/")});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(fs::exists(real.Root() / "up"));
    EXPECT_EQ(ReadFile(real.Root() / "kept.txt"), "stays");
}

TEST_F(CliTreeTest, CacheFillsTheCacheAndSearchFindsTheFilesOffline) {
    MakeTree(real.Root() / "pub");
    // A listing cached at an earlier visit that the server no longer matches: the walk must
    // list again rather than trust it.
    const fs::path stale = home / "cache" / "127.0.0.1" / "pub" / "a";
    fs::create_directories(stale);
    WriteFile(stale / "files.lis", "-rw-r--r-- 1 ftp ftp 5 Jan 02 2020 ghost.txt\r\n");

    CliResult result = Run({"cache", Url("/pub/")});
    ASSERT_EQ(result.status, 0) << result.err;
    real.Stop();

    std::vector<std::string> expected;
    for (std::string dir : {"/pub", "/pub/a", "/pub/d", "/pub/a/b", "/pub/d/e", "/pub/a/b/c"})
        for (const char* name : {"f1.txt", "f3.txt", "f5.txt"})
            expected.push_back("ftp://127.0.0.1" + dir + "/" + name);
    result = Run({"search", "*.txt"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Lines(result.out), expected);
    result = Run({"search", "--regex", "f[0-4]\\.bin", "127.0.0.1"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Lines(result.out).size(), 18u) << result.out;
    result = Run({"search", "*.txt", "elsewhere.example"});
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("nothing cached for elsewhere.example"), std::string::npos);
}

// The queue file names only the host: the port and the login come from site.dat. One item is
// refused: everything else arrives, the status is the refusal's although later items
// succeeded, stderr names the item, and the refused download leaves no empty file behind.
TEST_F(CliTreeTest, QueueRunMovesEveryItemOfTheFile) {
    const std::string data = Pattern(250'000);
    WriteFile(real.Root() / "d.bin", data);
    MakeTree(scratch / "tree");
    SiteSetting site = Site("local", "127.0.0.1", real.Port(), RealFtpServer::kUser,
                            RealFtpServer::kPassword, kLoginNormal);
    site.passive = 1;
    WriteSites({site});

    fs::create_directory(scratch / "down");
    const std::vector<QueueSection> sections = {
        {"127.0.0.1",
         {MakeQueueItem(QueueOperation::kDownload, (scratch / "down").string(), "/d.bin"),
          MakeQueueItem(QueueOperation::kDownload, (scratch / "down").string(), "/missing.bin")}},
        {"127.0.0.1",
         {MakeQueueItem(QueueOperation::kUpload, (scratch / "tree").string(), "/", kUnknownSize,
                        QueueItemKind::kDirectory)}},
    };
    const fs::path file = scratch / "run.que";
    ASSERT_EQ(SaveQueues(file.string(), sections).write, AtomicWriteResult::kWritten);

    const CliResult result = Run({"--retry-delay", "0", "queue", "run", file.string()});
    EXPECT_EQ(result.status, 6) << result.err;
    EXPECT_TRUE(HasLineStartingWith(result.err, "tarnwick-cli: not done: /missing.bin: refused"));
    EXPECT_EQ(ReadFile(scratch / "down" / "d.bin"), data);
    EXPECT_FALSE(fs::exists(scratch / "down" / "missing.bin"));
    EXPECT_EQ(Tree(real.Root() / "tree"), Tree(scratch / "tree"));
}

}  // namespace
}  // namespace tarnwick::test
