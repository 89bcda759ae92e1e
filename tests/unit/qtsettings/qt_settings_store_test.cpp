// The QSettings-backed settings store, kept in a scratch directory: the user's own settings
// are never read or written.
#include "qtsettings/qt_settings_store.h"

#include <QSettings>
#include <QString>

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "app/settings_io.h"
#include "scratch_directory.h"

namespace tarnwick {
namespace {

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
    const std::string text = testing::ReadFile(file);
    for (const char* line : {"[Settings]\n", "\nRetryDelay=42\n", "\nWPMaximized=1\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in " << text;
    EXPECT_EQ(text.find("s3cret"), std::string::npos);  // the password is kept encoded
    testing::WriteFile(file, text + "PromptSeconds=25\nFileRetry=many\n");  // as edited by hand

    const AppSettings loaded = LoadSettings(QtSettingsStore(), "/elsewhere", "/");
    EXPECT_EQ(
        std::tuple(loaded.retryDelay, loaded.wpMaximized, loaded.lastAddress, loaded.lastPassword),
        std::tuple(42, true, settings.lastAddress, std::string("s3cret")));
    EXPECT_EQ(loaded.promptSeconds, 25);  // numbers read back from text
    EXPECT_EQ(loaded.fileRetry, 16);      // not a number: the default
}

}  // namespace
}  // namespace tarnwick
