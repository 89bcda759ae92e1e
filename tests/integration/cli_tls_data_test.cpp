// TLS data connections of tarnwick-cli: active mode against a server that connects as soon as
// it gets PORT, and a download whose TLS stream is cut without close_notify.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli_fixture.h"
#include "loopback_socket.h"
#include "test_certificate.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

class CliTlsDataTest : public CliTest {
protected:
    fs::path certificate = MakeCertificate(scratch);
};

// pyftpdlib connects in active mode on PORT and drops a data connection that sends its
// hello before the listing command has come: every run must list.
TEST_F(CliTlsDataTest, ActiveModeListingsSucceedEveryTime) {
    ASSERT_FALSE(certificate.empty()) << "openssl req failed";
    RealFtpServer server("127.0.0.1", certificate);
    ASSERT_TRUE(server.Running()) << server.Error();
    WriteFile(server.Root() / "listed.txt", "x");
    const std::string url = std::string("ftpes://") + RealFtpServer::kUser + ":" +
                            RealFtpServer::kPassword +
                            "@127.0.0.1:" + std::to_string(server.Port()) + "/";
    for (int run = 0; run < 20; ++run) {
        CliResult listed = Run({"--insecure", "--active", "ls", url});
        ASSERT_EQ(listed.status, 0) << "run " << run << "\n" << listed.err;
        ASSERT_NE(listed.out.find("listed.txt"), std::string::npos) << listed.out;
    }
}

// A minimal FTPS server: passive data over TLS, RETR sends part of a file, then ends the TCP
// stream without close_notify and still reports success.
constexpr const char* kCuttingServer = R"py(import socket, ssl, sys
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER); ctx.load_cert_chain(sys.argv[1])
lst = socket.socket(fileno=3); c, _ = lst.accept(); f = c.makefile("rwb", 0)
say = lambda t: f.write((t + "\r\n").encode())
say("220 ready")
while True:
    line = f.readline().decode().strip(); verb = line.split(" ")[0].upper()
    if not line or verb == "QUIT": break
    if verb == "AUTH":
        say("234 go"); c = ctx.wrap_socket(c, server_side=True); f = c.makefile("rwb", 0)
    elif verb in ("PBSZ", "PROT", "TYPE"): say("200 ok")
    elif verb == "USER": say("331 pass")
    elif verb == "PASS": say("230 in")
    elif verb == "PWD": say('257 "/"')
    elif verb == "PASV":
        d = socket.create_server(("127.0.0.1", 0)); p = d.getsockname()[1]
        say("227 ok (127,0,0,1,%d,%d)" % (p // 256, p % 256))
    elif verb == "RETR":
        say("150 here"); s = ctx.wrap_socket(d.accept()[0], server_side=True)
        s.sendall(b"y" * 100000); s.close(); say("226 done")
    else: say("502 no")
)py";

TEST_F(CliTlsDataTest, DownloadCutWithoutCloseNotifyFails) {
    ASSERT_FALSE(certificate.empty()) << "openssl req failed";
    UniqueFd listener = ListenLoopback("127.0.0.1");
    const uint16_t port = LocalPort(listener.Get());
    WriteFile(scratch / "cut.py", kCuttingServer);
    const pid_t pid = fork();
    if (pid == 0) {
        // Descriptor 3 for the server; dup2 onto itself would keep close-on-exec.
        if (listener.Get() == 3) fcntl(3, F_SETFD, 0);
        if (listener.Get() != 3) dup2(listener.Get(), 3);
        execl("/usr/bin/python3", "python3", (scratch / "cut.py").c_str(), certificate.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    listener.Reset();
    const fs::path down = scratch / "down";
    fs::create_directories(down);
    CliResult got =
        Run({"-v", "--insecure", "--retries", "0", "get",
             "ftpes://u:p@127.0.0.1:" + std::to_string(port) + "/big.bin", down.string()});
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(got.status, 1) << got.err;  // a failed transfer, not a failed login
    // The server said the transfer was complete; the client did not take its word.
    EXPECT_NE(got.err.find("226 done"), std::string::npos) << got.err;
}

}  // namespace
}  // namespace tarnwick::test
