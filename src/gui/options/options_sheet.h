// The options sheet "Settings": the pages "General", "Transfer", "File Type", "Prompt" and
// "Overwrite" over a copy of the settings. OK checks every number against its range (the
// sheet stays open on the page of a bad one, with the message) and only then hands the
// edited copy back; Cancel changes nothing. The caller publishes the result to the sessions
// and the settings are written at shutdown.
//
// Threads: the user-interface thread; the caller owns the sheet and runs it modally.
#pragma once

#include <QDialog>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

#include "app/app_settings.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QRadioButton;
class QTabWidget;

namespace tarnwick::gui {

// An integer typed into a page: std::nullopt, with the message to show, when the text is not
// an integer or (when `checked`) lies outside [min, max].
std::optional<int> ReadIntField(const QString& text, bool checked, int min, int max,
                                QString& error);
// "txt;ini;" → {"txt", "ini"} (empty pieces left out), and back: every entry followed by ";".
QStringList SplitExtensions(const std::string& text);
std::string JoinExtensions(const QStringList& extensions);

class OptionsSheet : public QDialog {
    Q_OBJECT

public:
    explicit OptionsSheet(const AppSettings& settings, QWidget* parent = nullptr);

    // The edited settings once the sheet ended with OK.
    const AppSettings& Result() const { return edited; }
    // Takes every control's value into a copy of the settings given at construction. False,
    // with the message, and the offending page current and its field focused, when a value
    // is out of range.
    bool Collect(AppSettings& out, QString& error);

    void accept() override;

private:
    struct IntField {
        QLineEdit* edit;
        int AppSettings::*field;
        bool checked;
        int min;
        int max;
        int page;
    };
    struct BoolField {
        QCheckBox* box;
        bool AppSettings::*field;
    };
    struct TextField {
        QLineEdit* edit;
        std::string AppSettings::*field;
    };

    QWidget* GeneralPage();
    QWidget* TransferPage();
    QWidget* FileTypePage();
    QWidget* PromptPage();
    QWidget* OverwritePage();
    QLineEdit* AddInt(int AppSettings::*field, bool checked, int min, int max, int page);
    QCheckBox* AddBool(const QString& text, bool AppSettings::*field);
    QLineEdit* AddText(std::string AppSettings::*field);
    QWidget* WithBrowse(QLineEdit* edit, const QString& title, bool folder);
    void AddExtension();
    void RemoveExtension();
    void ShowHelp();

    const AppSettings original;
    AppSettings edited;
    QTabWidget* tabs;
    std::vector<IntField> intFields;
    std::vector<BoolField> boolFields;
    std::vector<TextField> textFields;
    QListWidget* extensionList = nullptr;
    QLineEdit* extensionEdit = nullptr;
    QRadioButton* actionButtons[4] = {};
    bool fileTypeShown = false;
};

}  // namespace tarnwick::gui
