// "Unknown certificate": a server certificate that did not verify, with its subject, issuer,
// validity and SHA-256 fingerprint, put to the user to trust or refuse. "Trust and remember"
// answers Yes; "Cancel", Escape and closing the window answer No, the safe default.
//
// Threads: the user-interface thread. The dialog copies the certificate's texts; whoever
// shows it owns it (the main window shows it modelessly and lets it delete itself).
#pragma once

#include <QDialog>

#include "session/question.h"

namespace tarnwick::gui {

class CertificateDialog : public QDialog {
    Q_OBJECT

public:
    explicit CertificateDialog(const CertificateQuestion& certificate, QWidget* parent = nullptr);

    void done(int result) override;

signals:
    // Once, as the dialog ends: kAnswerYes to trust the certificate, else kAnswerNo.
    void answered(int answer);
};

}  // namespace tarnwick::gui
