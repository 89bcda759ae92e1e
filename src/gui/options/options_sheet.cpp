#include "options/options_sheet.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/help.h"

namespace tarnwick::gui {

namespace {

enum Page { kGeneral, kTransfer, kFileType, kPrompt, kOverwrite };
constexpr int kMaxRetries = 32767;

QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

std::optional<int> ReadIntField(const QString& text, bool checked, int min, int max,
                                QString& error) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok) {
        error = QObject::tr("Please enter an integer.");
        return std::nullopt;
    }
    if (checked && (value < min || value > max)) {
        error = QObject::tr("Please enter an integer between %1 and %2.").arg(min).arg(max);
        return std::nullopt;
    }
    return value;
}

QStringList SplitExtensions(const std::string& text) {
    return Utf8(text).split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

std::string JoinExtensions(const QStringList& extensions) {
    std::string text;
    for (const QString& extension : extensions) text += extension.toStdString() + ";";
    return text;
}

OptionsSheet::OptionsSheet(const AppSettings& settings, QWidget* parent)
    : QDialog(parent), original(settings), edited(settings), tabs(new QTabWidget(this)) {
    setWindowTitle(tr("Settings"));
    tabs->addTab(GeneralPage(), tr("General"));
    tabs->addTab(TransferPage(), tr("Transfer"));
    tabs->addTab(FileTypePage(), tr("File Type"));
    tabs->addTab(PromptPage(), tr("Prompt"));
    tabs->addTab(OverwritePage(), tr("Overwrite"));
    connect(tabs, &QTabWidget::currentChanged, this,
            [this](int page) { fileTypeShown = fileTypeShown || page == kFileType; });
    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &OptionsSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, &OptionsSheet::ShowHelp);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
}

QLineEdit* OptionsSheet::AddInt(int AppSettings::*field, bool checked, int min, int max, int page) {
    auto* edit = new QLineEdit(QString::number(original.*field), this);
    edit->setMaximumWidth(90);
    intFields.push_back({edit, field, checked, min, max, page});
    return edit;
}

QCheckBox* OptionsSheet::AddBool(const QString& text, bool AppSettings::*field) {
    auto* box = new QCheckBox(text, this);
    box->setChecked(original.*field);
    boolFields.push_back({box, field});
    return box;
}

QLineEdit* OptionsSheet::AddText(std::string AppSettings::*field) {
    auto* edit = new QLineEdit(Utf8(original.*field), this);
    textFields.push_back({edit, field});
    return edit;
}

QWidget* OptionsSheet::WithBrowse(QLineEdit* edit, const QString& title, bool folder) {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* browse = new QPushButton(tr("Browse"), row);
    browse->setAccessibleName(title);
    layout->addWidget(edit);
    layout->addWidget(browse);
    row->setFocusProxy(edit);  // the label's buddy is the row
    connect(browse, &QPushButton::clicked, this, [this, edit, title, folder] {
        const QString chosen = folder ? QFileDialog::getExistingDirectory(this, title, edit->text())
                                      : QFileDialog::getOpenFileName(this, title, edit->text(),
#ifdef _WIN32
                                                                     tr("Program files(*.exe)"));
#else
                                                  tr("Programs (*)"));
#endif
        if (!chosen.isEmpty()) edit->setText(chosen);
    });
    return row;
}

QWidget* OptionsSheet::GeneralPage() {
    auto* page = new QWidget(this);
    auto* form = new QFormLayout(page);
    form->addRow(tr("Anti-idle command interval:"),
                 AddInt(&AppSettings::antiIdleCommandInterval, false, 0, 0, kGeneral));
    form->addRow(AddBool(tr("Keep Alive"), &AppSettings::keepAlive));
    form->addRow(tr("Default Local Directory:"),
                 WithBrowse(AddText(&AppSettings::defaultLocalDirectory),
                            tr("Select the starting folder of files to be imported"), true));
    form->addRow(AddBool(tr("Remember Last Local Directory"), &AppSettings::saveLocalDir));
    form->addRow(tr("External Viewer:"),
                 WithBrowse(AddText(&AppSettings::viewerPath), tr("External Viewer"), false));
    form->addRow(AddBool(tr("Enable local cache of server directory structure and file listing"),
                         &AppSettings::enableCache));
    form->addRow(tr("Cache Home Directory"), WithBrowse(AddText(&AppSettings::cacheHomeDirectory),
                                                        tr("Choosing cache home directory"), true));
    return page;
}

QWidget* OptionsSheet::TransferPage() {
    auto* page = new QWidget(this);
    auto* form = new QFormLayout(page);
    form->addRow(AddBool(tr("Always Retry"), &AppSettings::alwaysRetry));
    form->addRow(tr("Number of times to retry after failure:"),
                 AddInt(&AppSettings::errorRetry, true, 0, kMaxRetries, kTransfer));
    form->addRow(tr("Time to wait before retry:"),
                 AddInt(&AppSettings::retryDelay, true, 0, kMaxRetries, kTransfer));
    form->addRow(AddBool(tr("Save transfer queue on exit"), &AppSettings::saveQueue));
    form->addRow(tr("Number of times to retry at file level:"),
                 AddInt(&AppSettings::fileRetry, true, 0, kMaxRetries, kTransfer));
    form->addRow(AddBool(tr("Auto reset stopped items in queue"), &AppSettings::autoReset));
    return page;
}

QWidget* OptionsSheet::FileTypePage() {
    auto* page = new QWidget(this);
    auto* layout = new QGridLayout(page);
    extensionList = new QListWidget(page);
    extensionList->addItems(SplitExtensions(original.textFileExtension));
    extensionEdit = new QLineEdit(page);
    auto* listLabel = new QLabel(tr("Text File Extensions:"), page);
    listLabel->setBuddy(extensionList);
    extensionEdit->setAccessibleName(tr("Extension"));
    auto* add = new QPushButton(tr("Add"), page);
    auto* remove = new QPushButton(tr("Remove"), page);
    connect(add, &QPushButton::clicked, this, &OptionsSheet::AddExtension);
    connect(extensionEdit, &QLineEdit::returnPressed, this, &OptionsSheet::AddExtension);
    connect(remove, &QPushButton::clicked, this, &OptionsSheet::RemoveExtension);
    layout->addWidget(listLabel, 0, 0, 1, 2);
    layout->addWidget(extensionList, 1, 0, 3, 1);
    layout->addWidget(extensionEdit, 1, 1);
    layout->addWidget(add, 2, 1);
    layout->addWidget(remove, 3, 1, Qt::AlignTop);
    layout->addWidget(AddBool(tr("Check By Content"), &AppSettings::checkContent), 4, 0, 1, 2);
    auto* lengthRow = new QFormLayout;
    lengthRow->addRow(tr("Check Length:"),
                      AddInt(&AppSettings::previewLen, false, 0, 0, kFileType));
    layout->addLayout(lengthRow, 5, 0, 1, 2);
    return page;
}

QWidget* OptionsSheet::PromptPage() {
    auto* page = new QWidget(this);
    auto* group = new QGroupBox(tr("Prompt on the following cases:"), page);
    auto* boxes = new QVBoxLayout(group);
    boxes->addWidget(AddBool(tr("Requested Action Failed"), &AppSettings::pActionFailed));
    boxes->addWidget(AddBool(tr("Connection closed by server"), &AppSettings::pClose));
    boxes->addWidget(AddBool(tr("Delete Confirmation"), &AppSettings::pDelete));
    boxes->addWidget(AddBool(tr("Overwrite confirmation"), &AppSettings::pOverwrite));
    boxes->addWidget(AddBool(tr("Disconnect Confirmation"), &AppSettings::pDisconnect));
    boxes->addWidget(AddBool(tr("Login Message"), &AppSettings::pLogin));
    boxes->addWidget(AddBool(tr("Transfer Confirmation"), &AppSettings::pTransfer));
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(group);
    layout->addStretch();
    return page;
}

QWidget* OptionsSheet::OverwritePage() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    auto* dismissRow = new QHBoxLayout;
    QCheckBox* dismiss =
        AddBool(tr("Dismiss confirmation dialog in"), &AppSettings::autoClosePrompt);
    QLineEdit* seconds = AddInt(&AppSettings::promptSeconds, true, 0, 1000, kOverwrite);
    seconds->setAccessibleName(tr("Seconds before the confirmation is dismissed"));
    dismissRow->addWidget(dismiss);
    dismissRow->addWidget(seconds);
    dismissRow->addWidget(new QLabel(tr("seconds"), page));
    dismissRow->addStretch();
    layout->addLayout(dismissRow);
    auto* group = new QGroupBox(tr("Action when destination file already exists:"), page);
    auto* radios = new QVBoxLayout(group);
    const QString names[] = {tr("Skip"), tr("Resume"), tr("Overwrite"), tr("Auto")};
    for (int action = 0; action < 4; ++action) {
        actionButtons[action] = new QRadioButton(names[action], group);
        radios->addWidget(actionButtons[action]);
    }
    const int current = original.defaultOverwriteAction;
    if (current >= 0 && current < 4) actionButtons[current]->setChecked(true);
    layout->addWidget(group);
    layout->addStretch();
    return page;
}

void OptionsSheet::AddExtension() {
    const QString extension = extensionEdit->text();
    QString problem;
    if (extension.isEmpty()) {
        problem = tr("An extension can't be empty!");
    } else {
        for (int row = 0; row < extensionList->count(); ++row) {
            if (extensionList->item(row)->text().compare(extension, Qt::CaseInsensitive) == 0)
                problem = tr("Extension already exists!");
        }
    }
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), problem);
        return;
    }
    extensionList->addItem(extension);
    extensionEdit->clear();
}

void OptionsSheet::RemoveExtension() {
    delete extensionList->currentItem();
}

void OptionsSheet::ShowHelp() {
    OpenHelpTopic(QStringLiteral("settings.htm"));
}

bool OptionsSheet::Collect(AppSettings& out, QString& error) {
    AppSettings result = original;
    for (const IntField& field : intFields) {
        const std::optional<int> value =
            ReadIntField(field.edit->text(), field.checked, field.min, field.max, error);
        if (!value) {
            tabs->setCurrentIndex(field.page);
            field.edit->setFocus();
            field.edit->selectAll();
            return false;
        }
        result.*field.field = *value;
    }
    for (const BoolField& field : boolFields) result.*field.field = field.box->isChecked();
    for (const TextField& field : textFields)
        result.*field.field = field.edit->text().toStdString();
    for (int action = 0; action < 4; ++action) {
        if (actionButtons[action]->isChecked()) result.defaultOverwriteAction = action;
    }
    if (fileTypeShown || tabs->currentIndex() == kFileType) {
        QStringList extensions;
        for (int row = 0; row < extensionList->count(); ++row)
            extensions << extensionList->item(row)->text();
        result.textFileExtension = JoinExtensions(extensions);
    }
    if (result.viewerPath.empty()) result.viewerPath = std::string(kDefaultViewerPath);
    out = std::move(result);
    return true;
}

void OptionsSheet::accept() {
    QString error;
    if (!Collect(edited, error)) {
        QMessageBox::warning(this, windowTitle(), error);
        return;
    }
    QDialog::accept();
}

}  // namespace tarnwick::gui
