#include "sites/site_manager_dialog.h"

#include <algorithm>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
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
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "sites/site_file.h"
#include "sites/tls_url.h"

namespace tarnwick::gui {
namespace {

QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

SiteManagerDialog::SiteManagerDialog(std::vector<SiteSetting> sitesIn, std::string siteFilePath,
                                     std::string anonymousPassIn, QWidget* parent)
    : QDialog(parent),
      sites(std::move(sitesIn)),
      path(std::move(siteFilePath)),
      anonymousPass(std::move(anonymousPassIn)),
      list(new QListWidget(this)),
      nameEdit(new QLineEdit(this)),
      addressEdit(new QLineEdit(this)),
      userEdit(new QLineEdit(this)),
      passwordEdit(new QLineEdit(this)),
      portEdit(new QLineEdit(this)),
      tlsBox(new QComboBox(this)),
      loginGroup(new QButtonGroup(this)),
      hostType(new QComboBox(this)),
      localDirEdit(new QLineEdit(this)),
      remoteDirEdit(new QLineEdit(this)),
      passiveBox(new QCheckBox(tr("Use &Passive Mode"), this)),
      newButton(new QPushButton(tr("&New"), this)),
      deleteButton(new QPushButton(tr("&Delete"), this)) {
    setWindowTitle(tr("Site Manager"));
    list->setAccessibleName(tr("Sites"));
    passwordEdit->setEchoMode(QLineEdit::Password);
    hostType->addItem(tr("Auto Detect"));
    tlsBox->addItem(tr("Plain FTP"), kTlsNone);
    tlsBox->addItem(tr("FTP over explicit TLS"), kTlsExplicit);
    tlsBox->addItem(tr("FTP over implicit TLS"), kTlsImplicit);
    tlsBox->addItem(tr("Explicit TLS if available (else plain)"), kTlsIfAvailable);

    auto* form = new QFormLayout;
    form->addRow(tr("&Site Name:"), nameEdit);
    form->addRow(tr("&Host Address:"), addressEdit);
    form->addRow(tr("&User Name:"), userEdit);
    form->addRow(tr("Pass&word:"), passwordEdit);
    form->addRow(tr("P&ort:"), portEdit);
    form->addRow(tr("Encr&yption:"), tlsBox);
    auto* loginBox = new QGroupBox(tr("Login Type"), this);
    auto* loginLayout = new QHBoxLayout(loginBox);
    const QString loginNames[] = {tr("No&rmal"), tr("&Anonymous"), tr("Dou&ble")};
    for (int i = 0; i < 3; ++i) {
        auto* button = new QRadioButton(loginNames[i], loginBox);
        loginGroup->addButton(button, i);
        loginLayout->addWidget(button);
    }
    form->addRow(loginBox);
    form->addRow(tr("Host &Type:"), hostType);
    auto* browse = new QPushButton(QStringLiteral("..."), this);
    browse->setAccessibleName(tr("Browse for the default local directory"));
    browse->setToolTip(tr("Choose the default local directory"));
    browse->setFixedWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);
    auto* localRow = new QHBoxLayout;
    localRow->addWidget(localDirEdit);
    localRow->addWidget(browse);
    auto* localLabel = new QLabel(tr("Default &Local Directory:"), this);
    localLabel->setBuddy(localDirEdit);
    form->addRow(localLabel, localRow);
    form->addRow(tr("Default R&emote Directory:"), remoteDirEdit);
    form->addRow(passiveBox);

    auto* restoreButton = new QPushButton(tr("&Restore"), this);
    auto* connectButton = new QPushButton(tr("&Connect"), this);
    auto* closeButton = new QPushButton(tr("C&lose"), this);
    connectButton->setDefault(true);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {newButton, deleteButton, restoreButton, connectButton, closeButton})
        buttons->addWidget(b);

    auto* body = new QHBoxLayout;
    body->addWidget(list, 1);
    body->addLayout(form, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body);
    layout->addLayout(buttons);

    connect(newButton, &QPushButton::clicked, this, &SiteManagerDialog::NewOrAdd);
    connect(deleteButton, &QPushButton::clicked, this, &SiteManagerDialog::Delete);
    connect(restoreButton, &QPushButton::clicked, this, &SiteManagerDialog::Restore);
    connect(connectButton, &QPushButton::clicked, this, &SiteManagerDialog::ConnectSite);
    connect(closeButton, &QPushButton::clicked, this, &SiteManagerDialog::CloseAndSave);
    connect(list, &QListWidget::itemDoubleClicked, this, &SiteManagerDialog::ConnectSite);
    connect(list, &QListWidget::currentRowChanged, this, &SiteManagerDialog::SelectionChanged);
    connect(nameEdit, &QLineEdit::textEdited, this, &SiteManagerDialog::NameEdited);
    connect(tlsBox, &QComboBox::currentIndexChanged, this, &SiteManagerDialog::TlsModeChosen);
    connect(nameEdit, &QLineEdit::editingFinished, this, [this] {
        if (nameEdit->text().isEmpty()) nameEdit->setText(addressEdit->text());
    });
    auto normal = [this] { loginGroup->button(kLoginNormal)->setChecked(true); };
    connect(userEdit, &QLineEdit::textEdited, this, normal);
    connect(passwordEdit, &QLineEdit::textEdited, this, normal);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString dir = QFileDialog::getExistingDirectory(this, tr("Default Local Directory"),
                                                              localDirEdit->text());
        if (!dir.isEmpty()) localDirEdit->setText(dir);
    });

    updating = true;
    for (int i = 0; i < static_cast<int>(sites.size()); ++i) {
        auto* item = new QListWidgetItem(Utf8(sites[i].name), list);
        item->setData(Qt::UserRole, i);
    }
    updating = false;
    if (list->count() > 0) {
        ShowSite(0);
    } else {
        EnterAdding();
    }
    UpdateDelete();
}

int SiteManagerDialog::RecordOf(int row) const {
    if (row < 0 || row >= list->count()) return -1;
    const int index = list->item(row)->data(Qt::UserRole).toInt();
    return index >= 0 && index < static_cast<int>(sites.size()) ? index : -1;
}

void SiteManagerDialog::ClearForm() {
    const SiteSetting fresh = NewSiteSetting(anonymousPass);
    portEdit->setText(QStringLiteral("21"));
    nameEdit->clear();
    addressEdit->clear();
    userEdit->clear();
    passwordEdit->clear();
    localDirEdit->clear();
    hostType->setCurrentIndex(0);
    remoteDirEdit->setText(QStringLiteral("/"));
    loginGroup->button(fresh.logintype)->setChecked(true);
    passiveBox->setChecked(false);
    SetTlsMode(kTlsNone);
}

void SiteManagerDialog::ShowSite(int row) {
    const int index = RecordOf(row);
    if (index < 0) return;  // an entry without its record changes nothing
    const SiteSetting& site = sites[index];
    updating = true;
    list->setCurrentRow(row);
    updating = false;
    shownRow = row;
    nameEdit->setText(Utf8(site.name));
    addressEdit->setText(Utf8(site.address));
    userEdit->setText(Utf8(site.username));
    passwordEdit->setText(Utf8(site.password));
    portEdit->setText(QString::number(site.port));
    hostType->setCurrentIndex(0);
    if (QAbstractButton* b = loginGroup->button(site.logintype)) b->setChecked(true);
    localDirEdit->setText(Utf8(site.deflocaldir));
    remoteDirEdit->setText(Utf8(site.defremotedir));
    passiveBox->setChecked(site.passive != 0);
    SetTlsMode(site.tls);
}

// Shows a mode without touching the port: the port shown is the record's own.
void SiteManagerDialog::SetTlsMode(int mode) {
    const QSignalBlocker quiet(tlsBox);
    tlsBox->setCurrentIndex(std::max(0, tlsBox->findData(mode)));
    tlsShown = tlsBox->currentData().toInt();
}

// The user chose a mode: a default port follows it.
void SiteManagerDialog::TlsModeChosen() {
    const int mode = tlsBox->currentData().toInt();
    bool isNumber = false;
    const int port = portEdit->text().trimmed().toInt(&isNumber);
    if (isNumber) portEdit->setText(QString::number(PortForTlsMode(port, tlsShown, mode)));
    tlsShown = mode;
}

SiteSetting SiteManagerDialog::ReadForm() const {
    SiteSetting site;
    site.name = nameEdit->text().toStdString();
    site.address = addressEdit->text().toStdString();
    site.username = userEdit->text().toStdString();
    site.password = passwordEdit->text().toStdString();
    site.port = portEdit->text().trimmed().toInt();
    site.logintype = loginGroup->checkedId() < 0 ? 3 : loginGroup->checkedId();
    site.hosttype = hostType->currentIndex();
    site.deflocaldir = localDirEdit->text().toStdString();
    site.defremotedir = remoteDirEdit->text().toStdString();
    site.passive = passiveBox->isChecked() ? 1 : 0;
    site.tls = tlsBox->currentData().toInt();
    return site;
}

bool SiteManagerDialog::Validate() {
    if (addressEdit->text().isEmpty()) {
        QMessageBox::warning(this, tr("Site Manager"), tr("Host address can't be empty!"));
        addressEdit->setFocus();
        return false;
    }
    if (nameEdit->text().isEmpty()) nameEdit->setText(addressEdit->text());
    const QString name = nameEdit->text();
    for (int row = 0; row < list->count(); ++row) {
        if (list->item(row)->text().compare(name, Qt::CaseInsensitive) != 0) continue;
        if (adding || row != shownRow) {
            QMessageBox::warning(this, tr("Site Manager"),
                                 tr("Site Name:") + name + tr(" already exist!"));
            return false;
        }
    }
    return true;
}

void SiteManagerDialog::StoreShown() {
    const int index = RecordOf(shownRow);
    if (index < 0) return;
    SiteSetting site = ReadForm();
    site.tlsAcceptUnverified = sites[index].tlsAcceptUnverified;  // not in the form
    sites[index] = std::move(site);
}

void SiteManagerDialog::EnterAdding() {
    adding = true;
    ClearForm();
    newButton->setText(tr("&Add"));
}

void SiteManagerDialog::LeaveAdding() {
    adding = false;
    newButton->setText(tr("&New"));
}

bool SiteManagerDialog::AddFromForm() {
    if (!Validate()) return false;
    sites.push_back(ReadForm());
    auto* item = new QListWidgetItem(Utf8(sites.back().name), list);
    item->setData(Qt::UserRole, static_cast<int>(sites.size()) - 1);
    LeaveAdding();
    ShowSite(list->row(item));
    UpdateDelete();
    return true;
}

void SiteManagerDialog::SelectionChanged() {
    if (updating) return;
    const int row = list->currentRow();
    if (!adding && shownRow >= 0 && row != shownRow) {
        if (!Validate()) {
            updating = true;
            list->setCurrentRow(shownRow);
            updating = false;
            return;
        }
        StoreShown();
    }
    LeaveAdding();
    ShowSite(row);
}

void SiteManagerDialog::NewOrAdd() {
    if (adding) {
        AddFromForm();
        return;
    }
    if (list->count() > 0) {
        if (!Validate()) return;
        StoreShown();
    }
    EnterAdding();
}

void SiteManagerDialog::Delete() {
    if (adding) {
        LeaveAdding();
        if (list->count() > 0) ShowSite(0);
        return;
    }
    const int index = RecordOf(shownRow);
    if (index < 0) return;
    sites.erase(sites.begin() + index);
    updating = true;
    delete list->takeItem(shownRow);
    for (int row = 0; row < list->count(); ++row) {  // later records moved up by one
        const int data = list->item(row)->data(Qt::UserRole).toInt();
        if (data > index) list->item(row)->setData(Qt::UserRole, data - 1);
    }
    updating = false;
    const int next = std::min(shownRow, list->count() - 1);
    shownRow = -1;
    if (next >= 0) {
        ShowSite(next);
    } else {
        EnterAdding();
    }
    UpdateDelete();
}

void SiteManagerDialog::Restore() {
    if (adding) {
        ClearForm();
    } else {
        ShowSite(shownRow);
    }
}

void SiteManagerDialog::NameEdited(const QString& text) {
    if (adding || shownRow < 0) return;
    list->item(shownRow)->setText(text);
}

void SiteManagerDialog::UpdateDelete() {
    deleteButton->setEnabled(list->count() > 0);
}

void SiteManagerDialog::ConnectSite() {
    if (adding) {
        if (!AddFromForm()) return;
    } else {
        if (!Validate()) return;
        StoreShown();
    }
    const int index = RecordOf(shownRow);
    if (index < 0) return;
    chosen = sites[index];
    SaveSiteFile(path, sites);
    done(kConnect);
}

void SiteManagerDialog::CloseAndSave() {
    if (adding) {
        if (!addressEdit->text().isEmpty()) {
            const auto answer = QMessageBox::question(
                this, tr("Site Manager"), tr("Do you want to add this site?"),
                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
            if (answer == QMessageBox::Cancel) return;
            if (answer == QMessageBox::Yes && !AddFromForm()) return;
        }
    } else {
        if (!Validate()) return;
        StoreShown();
    }
    SaveSiteFile(path, sites);
    accept();
}

}  // namespace tarnwick::gui
