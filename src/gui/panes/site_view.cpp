#include "panes/site_view.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QStackedWidget>
#include <QStyle>
#include <QTabBar>
#include <QToolButton>

#include "app/history.h"
#include "listing/local_files.h"
#include "listing/paths.h"

namespace tarnwick::gui {

SiteView::SiteView(std::string historyPath, QWidget* parent)
    : QWidget(parent), historyPath(std::move(historyPath)) {
    tabs = new QTabBar(this);
    tabs->setAccessibleName(tr("Site tabs"));
    tabs->setContextMenuPolicy(Qt::CustomContextMenu);
    address = new QComboBox(this);
    address->setEditable(true);
    address->setInsertPolicy(QComboBox::NoInsert);
    address->setAccessibleName(tr("Address"));
    address->lineEdit()->setAccessibleName(tr("Address"));  // the box's own edit and list
    address->view()->setAccessibleName(tr("Recent addresses"));
    address->setToolTip(tr("Local path, remote path or ftp:// URL"));
    history = LoadHistory(this->historyPath);
    for (auto it = history.rbegin(); it != history.rend(); ++it)
        address->addItem(QString::fromStdString(*it));
    address->setCurrentIndex(-1);
    up = new QToolButton(this);
    up->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    up->setToolTip(tr("Parent directory"));
    up->setAccessibleName(tr("Parent directory"));
    stack = new QStackedWidget(this);
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(2, 2, 0, 0);
    layout->setSpacing(3);
    layout->addWidget(tabs, 0, 0, 1, 2);
    layout->addWidget(address, 1, 0);
    layout->addWidget(up, 1, 1);
    layout->addWidget(stack, 2, 0, 1, 2);
    layout->setColumnStretch(0, 1);
    layout->setRowStretch(2, 1);

    connect(up, &QToolButton::clicked, this, &SiteView::UpDirectory);
    connect(address->lineEdit(), &QLineEdit::returnPressed, this,
            [this] { EnterAddress(address->currentText().trimmed()); });
    connect(address, &QComboBox::activated, this,
            [this](int index) { EnterAddress(address->itemText(index)); });
    connect(tabs, &QTabBar::currentChanged, this, &SiteView::CurrentChanged);
    connect(tabs, &QWidget::customContextMenuRequested, this, &SiteView::ShowTabPopup);
}

void SiteView::ShowPane(FilePaneView* pane) {
    if (const int index = IndexOf(pane); index >= 0) tabs->setCurrentIndex(index);
}

int SiteView::IndexOf(FilePaneView* pane) const {
    for (int i = 0; i < tabs->count(); ++i)
        if (tabs->tabData(i).value<QObject*>() == pane) return i;
    return -1;
}

FilePaneView* SiteView::CurrentPane() const {
    return qobject_cast<FilePaneView*>(stack->currentWidget());
}

FilePaneView* SiteView::PaneOf(SessionId session) const {
    for (int i = 0; i < stack->count(); ++i) {
        auto* pane = qobject_cast<FilePaneView*>(stack->widget(i));
        if (pane != nullptr && pane->IsRemote() && pane->Session() == session) return pane;
    }
    return nullptr;
}

FilePaneView* SiteView::OpenLocalPath(const QString& path) {
    auto* pane = new FilePaneView(this);
    AddPane(pane);
    const QString start = IsDirectoryPath(path.toStdString()) == 1
                              ? path
                              : QString::fromStdString(CurrentDirectory());
    pane->FillLocal(start, QStringLiteral("*"));
    return pane;
}

void SiteView::AddPane(FilePaneView* pane) {
    pane->setParent(stack);
    stack->addWidget(pane);
    QWidget::setTabOrder(up, pane);  // Tab goes from the address row into this view's list
    connect(pane, &FilePaneView::directoryShown, this, [this, pane](const QString& directory) {
        ShowDirectory(pane, directory);
        if (!pane->IsRemote()) emit localDirectoryShown(directory);
    });
    connect(pane, &FilePaneView::openRequested, this, &SiteView::openRequested);
    connect(pane, &FilePaneView::transferRequested, this,
            [this, pane] { emit transferRequested(pane); });
    connect(pane, &FilePaneView::pasteUrlRequested, this,
            [this, pane] { emit pasteUrlRequested(pane); });
    connect(pane, &FilePaneView::dropped, this,
            [this, pane](FilePaneView* source, const QString& dropDirectory, bool queueOnly) {
                emit paneDropped(source, pane, dropDirectory, queueOnly);
            });
    connect(
        pane, &FilePaneView::filesDropped, this,
        [this, pane](const std::vector<TransferSource>& files, const QString& dropDirectory,
                     bool queueOnly) { emit filesDropped(pane, files, dropDirectory, queueOnly); });
    const int index = tabs->insertTab(0, pane->IsRemote() ? pane->Host() : QString());
    tabs->setTabData(index, QVariant::fromValue<QObject*>(pane));
    // A pane's own window icon (the lock of a protected session) is its tab's icon, so it
    // goes with the pane to the peer view. Without one of its own, windowIcon() would be
    // the main window's.
    auto showIcon = [this, pane] {
        if (const int at = IndexOf(pane); at >= 0)
            tabs->setTabIcon(
                at, pane->testAttribute(Qt::WA_SetWindowIcon) ? pane->windowIcon() : QIcon());
    };
    connect(pane, &QWidget::windowIconChanged, this, showIcon);
    showIcon();
    ShowDirectory(pane, pane->Directory());
    tabs->setCurrentIndex(index);
    CurrentChanged(index);
}

void SiteView::TakePane(FilePaneView* pane) {
    const int index = IndexOf(pane);
    if (index < 0) return;
    disconnect(pane, nullptr, this, nullptr);
    stack->removeWidget(pane);
    tabs->removeTab(index);
}

void SiteView::ClosePane(FilePaneView* pane) {
    TakePane(pane);
    pane->deleteLater();
}

void SiteView::ShowDirectory(FilePaneView* pane, const QString& directory) {
    const int index = IndexOf(pane);
    if (index >= 0 && !pane->IsRemote()) {
        const std::string dir = directory.toStdString();
        tabs->setTabText(index, QString::fromStdString(IsRootPath(dir) ? dir : LastComponent(dir)));
    }
    if (pane == CurrentPane() && !address->hasFocus())
        address->setEditText(
            QString::fromStdString(StripTrailingSeparator(directory.toStdString())));
}

void SiteView::CurrentChanged(int index) {
    if (index < 0) return;
    auto* pane = qobject_cast<FilePaneView*>(tabs->tabData(index).value<QObject*>());
    if (pane == nullptr) return;
    stack->setCurrentWidget(pane);
    address->setEditText(
        QString::fromStdString(StripTrailingSeparator(pane->Directory().toStdString())));
    pane->setFocus();
    emit currentPaneChanged(pane);
}

void SiteView::EnterAddress(const QString& text) {
    if (text.isEmpty()) return;
    AddHistoryEntry(historyPath, history, text.toStdString());
    if (address->findText(text) < 0) address->insertItem(0, text);
    const AddressAction action = ClassifyAddress(text.toStdString());
    const QString target = QString::fromStdString(action.target);
    FilePaneView* pane = CurrentPane();
    switch (action.kind) {
        case AddressKind::kFtpUrl:
            if (pane != nullptr) {
                if (pane->IsRemote())
                    emit closeSessionRequested(pane->Session());
                else
                    ClosePane(pane);
            }
            emit connectUrlRequested(target);
            return;
        case AddressKind::kLocalUrl:
            if (pane != nullptr && !pane->IsRemote())
                pane->ChangeLocalDirectory(target);
            else
                OpenLocalPath(target);
            return;
        case AddressKind::kUnsupported:
            QMessageBox::warning(this, tr("Tarnwick"), tr("Unsupported service type!"));
            return;
        case AddressKind::kPath:
            if (pane == nullptr) {
                OpenLocalPath(target);
            } else if (pane->IsRemote()) {
                pane->GoToRemotePath(target);
            } else {
                pane->ChangeLocalDirectory(target);
            }
            return;
    }
}

void SiteView::UpDirectory() {
    if (FilePaneView* pane = CurrentPane()) pane->UpDirectory();
}

void SiteView::Refresh() {
    if (FilePaneView* pane = CurrentPane()) pane->Refresh();
}

void SiteView::SelectAll() {
    if (FilePaneView* pane = CurrentPane()) pane->SelectAll();
}

void SiteView::ShowTabPopup(const QPoint& position) {
    const int index = tabs->tabAt(position);
    if (index < 0) return;
    tabs->setCurrentIndex(index);
    FilePaneView* pane = CurrentPane();
    QMenu menu(this);
    menu.addAction(tr("Move To Peer Pane"), this, [this, pane] { emit moveToPeerRequested(pane); });
    menu.addAction(tr("Close"), this, [this, pane] {
        if (pane->IsRemote())
            emit closeSessionRequested(pane->Session());
        else
            ClosePane(pane);
    });
    menu.exec(tabs->mapToGlobal(position));
}

}  // namespace tarnwick::gui
