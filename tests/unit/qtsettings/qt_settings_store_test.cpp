// The QSettings-backed settings store, kept in a scratch directory: the user's own settings
// are never read or written.
#include "qtsettings/qt_settings_store.h"

#include <QSettings>
#include <QString>

#include <gtest/gtest.h>

#include <cstdlib>

#include "../listing/scratch_directory.h"
#include "app/settings_io.h"
#include "listing/text_utils.h"

namespace tarnwick {
namespace {

using testing::ReadFile;
using testing::ScratchDirectory;

class QtSettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", scratch_.path().c_str(), 1);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(scratch_.path()));
    }

    std::string SettingsFile() const { return scratch_ / "Morrowlyn/Tarnwick.conf"; }

    ScratchDirectory scratch_;
};

TEST_F(QtSettingsStoreTest, KeepsValuesUnderMorrowlynTarnwickSettings) {
    AppSettings settings = DefaultAppSettings("/home/u/.local/share/tarnwick", "/home/u");
    settings.retryDelay = 42;
    settings.wpMaximized = true;
    settings.lastAddress = "ftp.example.org, mirror; \"quoted\" é";
    settings.lastPassword = "s3cret";
    {
        QtSettingsStore store;
        SaveSettings(store, settings);
        EXPECT_TRUE(store.Sync());
    }
    const std::string text = ReadFile(SettingsFile());
    EXPECT_NE(text.find("[Settings]"), std::string::npos) << text;
    EXPECT_NE(text.find("\nRetryDelay=42\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nWPMaximized=1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nLastPassword=" + EncodePassword("s3cret") + "\n"), std::string::npos)
        << text;

    const QtSettingsStore reread;
    const AppSettings loaded = LoadSettings(reread, "/elsewhere", "/");
    EXPECT_EQ(loaded.retryDelay, 42);
    EXPECT_TRUE(loaded.wpMaximized);
    EXPECT_EQ(loaded.lastAddress, settings.lastAddress);
    EXPECT_EQ(loaded.lastPassword, "s3cret");
    EXPECT_EQ(loaded.cacheHomeDirectory, settings.cacheHomeDirectory);
}

TEST_F(QtSettingsStoreTest, NumbersReadBackFromTextAndOtherTextIsAbsent) {
    std::filesystem::create_directories(scratch_ / "Morrowlyn");
    testing::WriteFile(SettingsFile(), "[Settings]\nPromptSeconds=25\nFileRetry=many\n");
    const QtSettingsStore store;
    EXPECT_EQ(store.GetInt("PromptSeconds"), 25);
    EXPECT_EQ(store.GetInt("FileRetry"), std::nullopt);
    EXPECT_EQ(store.GetInt("ErrorRetry"), std::nullopt);
    EXPECT_EQ(store.GetString("FileRetry"), "many");
    EXPECT_EQ(LoadSettings(store, "/h", "/").fileRetry, 16);
}

}  // namespace
}  // namespace tarnwick
