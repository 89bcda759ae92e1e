#include "sites/certificate_dialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnwick::gui {
namespace {

QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

// "host:port", an IPv6 address in brackets.
QString HostAndPort(const CertificateQuestion& certificate) {
    const QString host = Utf8(certificate.host);
    return (host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host) +
           QLatin1Char(':') + QString::number(certificate.port);
}

}  // namespace

CertificateDialog::CertificateDialog(const CertificateQuestion& certificate, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("Unknown certificate"));
    auto* intro = new QLabel(tr("The certificate of %1 could not be verified (%2).")
                                 .arg(HostAndPort(certificate), Utf8(certificate.reason)),
                             this);
    intro->setWordWrap(true);
    intro->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* form = new QFormLayout;
    auto field = [this, form](const QString& label, const std::string& value) {
        auto* edit = new QLineEdit(Utf8(value), this);
        edit->setReadOnly(true);
        edit->setCursorPosition(0);
        edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 60);
        form->addRow(label, edit);
        return edit;
    };
    field(tr("&Subject:"), certificate.subject);
    field(tr("&Issuer:"), certificate.issuer);
    field(tr("Valid &from:"), certificate.validFrom);
    field(tr("Valid &until:"), certificate.validUntil);
    QLineEdit* fingerprint = field(tr("SHA-256 fin&gerprint:"), certificate.fingerprint);
    fingerprint->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    fingerprint->setMinimumWidth(
        fingerprint->fontMetrics().horizontalAdvance(Utf8(certificate.fingerprint)) + 16);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* trust =
        buttons->addButton(tr("&Trust and remember"), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    trust->setAutoDefault(false);
    cancel->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(buttons);
    cancel->setFocus();
}

void CertificateDialog::done(int result) {
    emit answered(result == QDialog::Accepted ? kAnswerYes : kAnswerNo);
    QDialog::done(result);
}

}  // namespace tarnwick::gui
