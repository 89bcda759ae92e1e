// tarnwick: the desktop program. Start-up: one instance per user (a second start with --send
// hands its files to the first and ends), trimmed history files, the settings from the
// settings store, the site file, the main window, the autosaved queue.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

#include "app/history.h"
#include "app/main_window.h"
#include "app/settings_io.h"
#include "app/single_instance.h"
#include "app/termination.h"
#include "listing/local_files.h"
#include "qtsettings/qt_settings_store.h"
#include "sites/site_file.h"

namespace {

using namespace tarnwick;

struct CommandLine {
    bool send = false;
    QStringList files;  // --send PATH...: absolute paths
    QString url;        // an ftp://, ftps:// or ftpes:// URL to open (the desktop's ftp handler)
};

CommandLine ParseArguments(const QStringList& arguments) {
    CommandLine line;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--send")) {
            line.send = true;
        } else if (line.send) {
            line.files << QFileInfo(argument).absoluteFilePath();
        } else if (IsFtpUrl(argument.toStdString())) {
            line.url = argument;
        }
    }
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QApplication::setOrganizationName(QStringLiteral("Morrowlyn"));
    QApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("network-server")));
    const CommandLine line = ParseArguments(QApplication::arguments());
    if (line.send && gui::SendToRunningInstance(line.files)) return 0;
    gui::InstanceServer instance;
    instance.Listen();

    gui::MainWindowContext context;
    context.programHome = ProgramDirectory();
    for (const std::string& failure : TrimHistoryFiles(context.programHome)) {
        QMessageBox::critical(nullptr, QObject::tr("Tarnwick"), QString::fromStdString(failure));
        return 0;
    }
    QtSettingsStore store;
    context.settings = LoadSettings(store, context.programHome, CurrentDirectory());
    context.store = &store;
    LoadSiteFile(context.programHome + std::string(kSiteFileName), context.sites);

    gui::MainWindow window(std::move(context));
    QObject::connect(&instance, &gui::InstanceServer::filesReceived, &window,
                     &gui::MainWindow::ShowShellTransfer);
    window.ImportAutosavedQueue();
    gui::CloseOnTermination(window);
    if (window.Settings().wpMaximized) {
        window.showMaximized();
    } else {
        window.show();
    }
    window.raise();
    window.activateWindow();
    if (line.send) window.ShowShellTransfer(line.files);
    if (!line.url.isEmpty()) window.ConnectUrl(line.url);
    return QApplication::exec();
}
