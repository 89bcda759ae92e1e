// The remembered certificates: one line per host and port, replaced on a new answer, the
// file owner-only; a read-only store never writes.
#include "session/trust_store.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "scratch_directory.h"

namespace tarnwick {
namespace {

using testing::ReadFile;
using testing::WriteFile;

const std::string kFirst = NormalizeFingerprint(std::string(64, 'a'));
const std::string kSecond = NormalizeFingerprint(std::string(32, 'B') + std::string(32, '0'));

TEST(TrustStoreTest, RemembersOneFingerprintPerHostAndPortAndKeepsTheOtherLines) {
    testing::ScratchDirectory dir;
    const std::string path = std::string(dir.path()) + "/certificates.dat";
    WriteFile(path, "unparsable line\nother.example:21 " + kFirst + "\n");
    TrustStore store(path, TrustStore::Access::kReadWrite);
    std::string error;
    ASSERT_TRUE(store.Remember("Host.example", 990, kFirst, error)) << error;
    ASSERT_TRUE(store.Remember("host.EXAMPLE", 990, kSecond, error)) << error;
    EXPECT_EQ(store.Find("HOST.example", 990), kSecond);
    EXPECT_EQ(store.Find("host.example", 21), "");
    EXPECT_EQ(ReadFile(path), "unparsable line\nother.example:21 " + kFirst +
                                  "\nhost.example:990 " + kSecond + "\n");
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    TrustStore readOnly(path, TrustStore::Access::kReadOnly);
    EXPECT_FALSE(readOnly.Remember("new.example", 21, kFirst, error));
    EXPECT_EQ(readOnly.Find("other.example", 21), kFirst);
    EXPECT_EQ(store.Find("new.example", 21), "");
}

}  // namespace
}  // namespace tarnwick
