// The queue run against a real FTP server (pyftpdlib): the local walk of an upload keeping to
// the tree being uploaded and to regular files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "real_ftp_server.h"
#include "scratch_directory.h"
#include "session_fixture.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using tarnwick::testing::ReadFile;
using tarnwick::testing::ScratchDirectory;
using tarnwick::testing::WriteFile;

// Every file below `root` with its content, and every directory, by relative path.
std::map<std::string, std::string> TreeContents(const fs::path& root) {
    std::map<std::string, std::string> contents;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        contents[fs::relative(entry.path(), root).string()] =
            entry.is_directory() ? "<dir>" : ReadFile(entry.path().string());
    }
    return contents;
}

// The local walk uploads a link to a file inside the tree like the file, but leaves alone a
// link that leads out of the tree, a link to a directory (a loop, here) and a FIFO (reading
// it would block the upload for ever); each with a warning. The rest arrives.
TEST(QueueRealServerTest, LocalWalkKeepsToTheTreeAndToRegularFiles) {
    RealFtpServer real;
    ASSERT_TRUE(real.Running()) << real.Error();
    ScratchDirectory scratch;
    const fs::path local = fs::path(scratch.path()) / "tree";
    fs::create_directories(local / "sub");
    WriteFile((local / "a.bin").string(), "inside");
    WriteFile((local / "sub" / "b.bin").string(), "below");
    WriteFile(scratch / "secret", "outside");
    fs::create_symlink(local / "a.bin", local / "in.bin");
    fs::create_symlink(scratch / "secret", local / "out.bin");
    fs::create_directory_symlink(local, local / "sub" / "loop");
    ASSERT_EQ(::mkfifo((local / "fifo").c_str(), 0600), 0);
    RecordingObserver observer;
    SiteSetting site = SiteOn(real.Port());
    site.username = RealFtpServer::kUser;
    site.password = RealFtpServer::kPassword;
    CFtpSession session(site, QuickSettings(), observer);
    session.queue.Add(MakeQueueItem(QueueOperation::kUpload, local.string(), "/", kUnknownSize,
                                    QueueItemKind::kDirectory));

    ASSERT_TRUE(session.StartQueue());
    EXPECT_EQ(observer.WaitForCommandFinished(CmdRunQueue, kWait), kResultOk)
        << observer.FormattedLog();
    EXPECT_EQ(
        TreeContents(real.Root() / "tree"),
        (std::map<std::string, std::string>{
            {"a.bin", "inside"}, {"in.bin", "inside"}, {"sub", "<dir>"}, {"sub/b.bin", "below"}}));
    EXPECT_EQ(observer.LogTexts(LOG_WARNING).size(), 3u) << observer.FormattedLog();
    session.CloseSession();
}

}  // namespace
}  // namespace tarnwick::test
