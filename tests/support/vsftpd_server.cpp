#include "vsftpd_server.h"

#include <unistd.h>

#include "test_certificate.h"

namespace tarnwick::test {

namespace {

constexpr const char* kVsftpd = "/usr/sbin/vsftpd";

}  // namespace

bool VsftpdServer::Installed() {
    return access(kVsftpd, X_OK) == 0;
}

VsftpdServer::VsftpdServer(Mode mode) : ServerProcess("vsftpd") {
    const std::string empty = directory_ / "empty";
    std::filesystem::create_directories(empty);
    const std::string certificate = MakeCertificate(directory_.path());
    if (certificate.empty()) {
        Fail("openssl req failed");
        return;
    }
    ChooseFreePort();
    const std::string config = directory_ / "vsftpd.conf";
    tarnwick::testing::WriteFile(
        config, "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" + std::to_string(port_) +
                    "\nbackground=NO\nrun_as_launching_user=YES\nseccomp_sandbox=NO\n"
                    "anonymous_enable=YES\nno_anon_password=YES\nlocal_enable=NO\nanon_root=" +
                    root_.string() + "\nsecure_chroot_dir=" + empty +
                    "\nssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_data_ssl=YES\n"
                    "force_anon_logins_ssl=YES\nrsa_cert_file=" +
                    certificate + "\nrsa_private_key_file=" + certificate + "\n" +
                    (mode == Mode::kImplicitTls ? "implicit_ssl=YES\n" : ""));
    Launch({kVsftpd, config});
}

}  // namespace tarnwick::test
