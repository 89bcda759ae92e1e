// The queue run against a real FTP server (pyftpdlib): a tree of a few hundred files up and
// down again byte-identical, and the local walk keeping to the tree being uploaded.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "../session/session_fixture.h"
#include "real_ftp_server.h"
#include "scratch_directory.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using tarnwick::testing::ReadFile;
using tarnwick::testing::ScratchDirectory;
using tarnwick::testing::WriteFile;

constexpr auto kLongWait = std::chrono::milliseconds(20'000);  // hundreds of files, sanitizers

std::string Content(size_t size, unsigned seed) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + seed * 7919) >> 3);
    return data;
}

// `files` files of a few KB (names start with `prefix`, unique in the tree) spread over the
// top directory and two levels of subdirectories.
void MakeTree(const fs::path& root, const std::string& prefix, int files) {
    for (int i = 0; i < files; ++i) {
        fs::path dir = root;
        if (i % 3 != 0) dir /= "d" + std::to_string(i % 7);
        if (i % 5 == 0) dir /= "e" + std::to_string(i % 2);
        fs::create_directories(dir);
        char name[32];
        std::snprintf(name, sizeof name, "%s%03d.bin", prefix.c_str(), i);
        WriteFile((dir / name).string(), Content(static_cast<size_t>(i * 37 % 4000), i));
    }
}

std::string Describe(const std::string& data) {
    return std::to_string(data.size()) + " bytes, " +
           std::to_string(std::hash<std::string>{}(data));
}

// Every file below `root` with its size and a digest of its content, and every directory,
// by relative path (digests keep a failure message readable).
std::map<std::string, std::string> TreeContents(const fs::path& root) {
    std::map<std::string, std::string> contents;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).string();
        if (entry.is_directory()) {
            contents[relative] = "<dir>";
            continue;
        }
        contents[relative] = Describe(ReadFile(entry.path().string()));
    }
    return contents;
}

class QueueRealServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(real.Running()) << real.Error();
        settings->enableCache = true;  // resuming looks the remote file up in the cache
        settings->cacheHomeDirectory = scratch / "cache";
        settings->errorRetry = 4;
        settings->fileRetry = 1;
    }

    void Open(uint16_t port) {
        SiteSetting site = SiteOn(port);
        site.username = RealFtpServer::kUser;
        site.password = RealFtpServer::kPassword;
        session = std::make_unique<CFtpSession>(site, settings, observer);
    }

    void Queue(QueueOperation operation, const std::string& clientPath,
               const std::string& serverPath) {
        session->queue.Add(MakeQueueItem(operation, clientPath, serverPath, kUnknownSize,
                                         QueueItemKind::kDirectory));
    }

    // Starts the queue (and the worker, the first time) and waits until it has run.
    void RunQueueUntilDone() {
        ASSERT_TRUE(session->StartQueue());
        EXPECT_EQ(observer.WaitForCommandFinished(CmdRunQueue, kLongWait), kResultOk)
            << observer.FormattedLog();
        EXPECT_TRUE(session->queue.Empty());
        EXPECT_FALSE(session->QueueRunPending());
    }

    RealFtpServer real;
    ScratchDirectory scratch;
    RecordingObserver observer;
    std::shared_ptr<AppSettings> settings = QuickSettings();
    std::unique_ptr<CFtpSession> session;  // last: destroyed (worker stopped) first
};

TEST_F(QueueRealServerTest, TreeGoesUpAndComesDownByteIdentical) {
    const fs::path local = fs::path(scratch.path()) / "up" / "tree";
    MakeTree(local, "f", 240);
    Open(real.Port());

    Queue(QueueOperation::kUpload, local.string(), "/");
    RunQueueUntilDone();
    EXPECT_EQ(TreeContents(real.Root() / "tree"), TreeContents(local));

    const fs::path down = fs::path(scratch.path()) / "down";
    fs::create_directories(down);
    Queue(QueueOperation::kDownload, down.string(), "/tree");
    RunQueueUntilDone();
    EXPECT_EQ(TreeContents(down / "tree"), TreeContents(local));
}

// The local walk uploads a link to a file inside the tree like the file, but leaves alone a
// link that leads out of the tree, a link to a directory (a loop, here) and a FIFO (reading
// it would block the upload for ever); each with a warning. The rest arrives.
TEST_F(QueueRealServerTest, LocalWalkKeepsToTheTreeAndToRegularFiles) {
    const fs::path local = fs::path(scratch.path()) / "tree";
    fs::create_directories(local / "sub");
    WriteFile((local / "a.bin").string(), "inside");
    WriteFile((local / "sub" / "b.bin").string(), "below");
    WriteFile(scratch / "secret", "outside");
    fs::create_symlink(local / "a.bin", local / "in.bin");
    fs::create_symlink(scratch / "secret", local / "out.bin");
    fs::create_directory_symlink(local, local / "sub" / "loop");
    ASSERT_EQ(::mkfifo((local / "fifo").c_str(), 0600), 0);
    Open(real.Port());

    Queue(QueueOperation::kUpload, local.string(), "/");
    RunQueueUntilDone();
    EXPECT_EQ(TreeContents(real.Root() / "tree"),
              (std::map<std::string, std::string>{{"a.bin", Describe("inside")},
                                                  {"in.bin", Describe("inside")},
                                                  {"sub", "<dir>"},
                                                  {"sub/b.bin", Describe("below")}}));
    int warnings = 0;
    for (const LogRecord& line : observer.Snapshot().log) warnings += line.kind == LOG_WARNING;
    EXPECT_EQ(warnings, 3) << observer.FormattedLog();
}

}  // namespace
}  // namespace tarnwick::test
