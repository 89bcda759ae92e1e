// The Site Manager: edits a copy of the site list (names, addresses, logins, encryption,
// directories) and
// writes the site file through SaveSiteFile only when closed with Close or Connect; Escape
// leaves the file untouched. Connect hands the chosen site back through ChosenSite().
//
// Threads: the user-interface thread; run modally by the main window, which owns the site list
// and takes Sites() back after an accepted run.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "sites/site_setting.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tarnwick::gui {

class SiteManagerDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kConnect = 4;  // the dialog's result when the user chose Connect

    SiteManagerDialog(std::vector<SiteSetting> sites, std::string siteFilePath,
                      std::string anonymousPass, QWidget* parent = nullptr);

    const std::vector<SiteSetting>& Sites() const { return sites; }
    const SiteSetting& ChosenSite() const { return chosen; }

    void NewOrAdd();
    void Delete();
    void Restore();
    void ConnectSite();
    void CloseAndSave();

private:
    void ClearForm();
    void ShowSite(int row);
    SiteSetting ReadForm() const;
    bool Validate();
    bool AddFromForm();
    void StoreShown();
    void EnterAdding();
    void LeaveAdding();
    void SelectionChanged();
    void NameEdited(const QString& text);
    void UpdateDelete();
    void TlsModeChosen();
    void SetTlsMode(int mode);
    int RecordOf(int row) const;

    std::vector<SiteSetting> sites;
    std::string path;
    std::string anonymousPass;
    SiteSetting chosen;
    bool adding = false;
    int shownRow = -1;
    bool updating = false;
    int tlsShown = kTlsNone;  // the mode the encryption box showed before its last change

    QListWidget* list;
    QLineEdit* nameEdit;
    QLineEdit* addressEdit;
    QLineEdit* userEdit;
    QLineEdit* passwordEdit;
    QLineEdit* portEdit;
    QComboBox* tlsBox;
    QButtonGroup* loginGroup;
    QComboBox* hostType;
    QLineEdit* localDirEdit;
    QLineEdit* remoteDirEdit;
    QCheckBox* passiveBox;
    QPushButton* newButton;
    QPushButton* deleteButton;
};

}  // namespace tarnwick::gui
