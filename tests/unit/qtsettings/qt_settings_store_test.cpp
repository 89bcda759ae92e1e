// The QSettings-backed settings store, kept in a scratch directory: the user's own settings
// are never read or written.
#include "qtsettings/qt_settings_store.h"

#include <QSettings>
#include <QString>

#include <gtest/gtest.h>

#include <cstdlib>

#include "scratch_directory.h"
#include "app/settings_io.h"
#include "listing/text_utils.h"

namespace tarnwick {
namespace {

using testing::ReadFile;

TEST(QtSettingsStoreTest, KeepsValuesInTheMorrowlynTarnwickFile) {
    testing::ScratchDirectory scratch;
    setenv("XDG_CONFIG_HOME", scratch.path().c_str(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(scratch.path()));
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
    const std::string file = scratch / "Morrowlyn/Tarnwick.conf";
    const std::string text = ReadFile(file);
    const std::string expected[] = {"[Settings]\n", "\nRetryDelay=42\n", "\nWPMaximized=1\n",
                                    "\nLastPassword=" + EncodePassword("s3cret") + "\n"};
    for (const std::string& line : expected) {
        EXPECT_NE(text.find(line), std::string::npos) << line << " in " << text;
    }
    testing::WriteFile(file, text + "PromptSeconds=25\nFileRetry=many\n");  // as edited by hand

    const QtSettingsStore reread;
    const AppSettings loaded = LoadSettings(reread, "/elsewhere", "/");
    EXPECT_EQ(loaded.retryDelay, 42);
    EXPECT_TRUE(loaded.wpMaximized);
    EXPECT_EQ(loaded.lastAddress, settings.lastAddress);
    EXPECT_EQ(loaded.lastPassword, "s3cret");
    EXPECT_EQ(loaded.promptSeconds, 25);  // numbers read back from text
    EXPECT_EQ(loaded.fileRetry, 16);      // not a number: the default
}

}  // namespace
}  // namespace tarnwick
