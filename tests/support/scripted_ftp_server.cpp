#include "scripted_ftp_server.h"

#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "loopback_socket.h"

namespace tarnwick::test {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kStepTimeout{10'000};  // bounds every wait of the server
constexpr size_t kMaxLineLength = 64 * 1024;
constexpr size_t kFloodLimit = size_t{64} << 20;

// What an action tells the connection it runs on: go on, the connection ended, the server
// stalls (hears but never answers), or the server is being destroyed.
enum class Flow { kContinue, kEnded, kStalled, kStopped };
enum class DataMode { kNone, kPassive, kActive };

struct Connection;
// One action of a step; gets the command line the step matched ("" when connecting).
using Action = std::function<Flow(Connection&, const std::string& line)>;

struct Step {
    std::string expected;  // how failure messages name what the step expects
    std::function<bool(std::string_view)> matches;
    std::vector<Action> actions;
};

// A line as failure messages show it: quoted, line ends escaped, long lines cut.
std::string Quote(std::string_view text) {
    constexpr size_t kShown = 160;
    std::string quoted = "\"";
    for (const char c : text.substr(0, kShown)) {
        quoted += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    }
    return quoted + (text.size() > kShown ? "\"..." : "\"");
}

Flow Stopped(IoStatus status) {
    return status == IoStatus::kStopped ? Flow::kStopped : Flow::kContinue;
}

}  // namespace

// State shared by the test's threads and the server thread. The descriptors are set before
// the thread starts and never change; every member after `mutex` is guarded by it.
struct ScriptedServerState {
    UniqueFd listener;
    UniqueFd wakeRead;  // readable once the server is being destroyed
    UniqueFd wakeWrite;
    uint16_t port = 0;
    std::thread thread;

    std::mutex mutex;
    std::condition_variable changed;
    // Per connection its steps; the first, which matches no line, runs when the client connects.
    std::vector<std::vector<Step>> scripts = {{Step{}}};
    size_t walkedConnections = 0;         // connections whose script has run to its end
    std::vector<std::string> transcript;  // of all connections
    size_t accepted = 0;
    std::vector<std::string> received;
    std::vector<std::string> failures;

    // Runs `use` under the lock and wakes the waiters; returns what `use` returns.
    template <typename Use>
    auto Locked(Use use) {
        std::lock_guard lock(mutex);
        changed.notify_all();
        return use();
    }
    void Fail(std::string text) {
        Locked([&] { failures.push_back(std::move(text)); });
    }
};

namespace {

// One accepted control connection and its data side, served on the server thread; its
// sockets close with it. Steps are copied out of the shared script one by one, so that a
// test thread may extend the script meanwhile.
struct Connection {
    ScriptedServerState& state;
    size_t index;
    UniqueFd control;
    size_t step = 0;      // the step being served, for failure messages
    std::string input{};  // received bytes not yet split into lines
    DataMode mode = DataMode::kNone;
    UniqueFd dataListener{};
    std::string activeHost{};
    uint16_t activePort = 0;
    std::vector<UniqueFd> stalledData{};

    int Wake() const { return state.wakeRead.Get(); }
    IoStatus Send(int fd, std::string_view bytes) {
        return SendAll(fd, bytes, DeadlineAfter(kStepTimeout), Wake());
    }
    bool Sleep(milliseconds duration) {
        return WaitFd(-1, POLLIN, DeadlineAfter(duration), Wake()) != IoStatus::kStopped;
    }
    void Fail(const std::string& text) {
        state.Fail("connection " + std::to_string(index) + ", step " + std::to_string(step) + ": " +
                   text);
    }

    Flow Serve() {
        DisableNagle(control.Get());
        state.Locked([&] { ++state.accepted; });
        Flow flow = Flow::kContinue;
        bool broken = false;
        while (flow == Flow::kContinue) {
            const std::optional<Step> next = state.Locked([&]() -> std::optional<Step> {
                const std::vector<Step>& steps = state.scripts[index];
                if (step >= steps.size()) return std::nullopt;
                return steps[step];
            });
            if (!next) break;
            std::string line;
            flow = next->matches ? ReadExpected(*next, line) : Flow::kContinue;
            broken = flow != Flow::kContinue;
            if (broken) break;
            for (size_t i = 0; flow == Flow::kContinue && i < next->actions.size(); ++i) {
                flow = next->actions[i](*this, line);
            }
            ++step;
        }
        if (flow == Flow::kStopped) return flow;
        const size_t left = state.Locked([&] { return state.scripts[index].size(); }) - step;
        if (!broken && left > 0) {
            Fail(std::to_string(left) +
                 " step(s) follow the end of the connection and can never run");
        }
        state.Locked(
            [&] { state.walkedConnections = std::max(state.walkedConnections, index + 1); });
        return flow == Flow::kEnded ? Flow::kContinue : Linger(flow == Flow::kStalled);
    }

    // Takes one whole line out of the input and records it (without CR LF); false when the input
    // holds no whole line.
    bool TakeLine(std::string& line) {
        const size_t end = input.find('\n');
        if (end == std::string::npos) return false;
        line = input.substr(0, end);
        input.erase(0, end + 1);
        if (line.empty() || line.back() != '\r') {
            Fail("a line not ended by CR LF: " + Quote(line));
        } else {
            line.pop_back();
        }
        state.Locked([&] { state.transcript.push_back(line); });
        return true;
    }

    // A script that does not expect FEAT plays a server that does not know it: the command
    // is answered 502 and left out of the transcript.
    bool AnswerUnscriptedFeat(const std::string& line) {
        if (strcasecmp(line.c_str(), "feat") != 0) return false;
        state.Locked([&] { state.transcript.pop_back(); });
        Send(control.Get(), "502 Command not implemented.\r\n");
        return true;
    }

    Flow ReadExpected(const Step& expected, std::string& line) {
        for (;;) {
            const Deadline deadline = DeadlineAfter(kStepTimeout);
            IoStatus status = IoStatus::kOk;
            while (status == IoStatus::kOk && !TakeLine(line)) {
                status = input.size() > kMaxLineLength
                             ? IoStatus::kFailed
                             : ReceiveSome(control.Get(), input, deadline, Wake());
            }
            if (status == IoStatus::kStopped) return Flow::kStopped;
            if (status != IoStatus::kOk) {
                Fail("expected " + expected.expected + ", but the control connection " +
                     IoStatusName(status) + (input.empty() ? "" : " after " + Quote(input)));
                return Flow::kEnded;
            }
            if (expected.matches(line)) return Flow::kContinue;
            if (AnswerUnscriptedFeat(line)) continue;
            Fail("expected " + expected.expected + ", got " + Quote(line));
            Send(control.Get(), "500 unexpected\r\n");
        }
    }

    // After the script: keeps the connection until the client closes it, the next scripted
    // connection arrives, or (stalled only) the step bound passes. Lines that arrive meanwhile are
    // recorded; unless stalled, each is a failure and gets "500 unexpected".
    Flow Linger(bool stalled) {
        const Deadline deadline = stalled ? DeadlineAfter(kStepTimeout) : kNoDeadline;
        for (;;) {
            pollfd fds[3] = {
                {Wake(), POLLIN, 0}, {control.Get(), POLLIN, 0}, {state.listener.Get(), POLLIN, 0}};
            const int ready = poll(fds, 3, PollTimeout(deadline));
            if (ready < 0 && errno == EINTR) continue;
            if (fds[0].revents != 0) return Flow::kStopped;
            if (ready <= 0) return Flow::kContinue;  // stall over (or poll failed): close
            if (fds[2].revents != 0) {
                if (state.Locked([&] { return index + 1 < state.scripts.size(); })) {
                    return Flow::kContinue;
                }
                UniqueFd extra;
                AcceptWithin(state.listener.Get(), Clock::now(), extra);
                Fail("an unexpected control connection while this one is open");
            }
            if (fds[1].revents == 0) continue;
            const IoStatus status = ReceiveSome(control.Get(), input, Clock::now());
            if (status == IoStatus::kClosed || status == IoStatus::kFailed) return Flow::kContinue;
            for (std::string line; TakeLine(line);) {
                if (stalled || AnswerUnscriptedFeat(line)) continue;
                Fail("an unexpected command after the end of the script: " + Quote(line));
                Send(control.Get(), "500 unexpected\r\n");
            }
        }
    }

    IoStatus OpenData(UniqueFd& data) {
        if (mode == DataMode::kNone || (mode == DataMode::kPassive && !dataListener)) {
            Fail(mode == DataMode::kNone ? "a data action without PASV or PORT before it"
                                         : "a second data connection after one PASV");
            return IoStatus::kFailed;
        }
        const Deadline deadline = DeadlineAfter(kStepTimeout);
        const IoStatus status =
            mode == DataMode::kActive
                ? ConnectLoopback(activeHost, activePort, deadline, data, Wake())
                : AcceptWithin(dataListener.Get(), deadline, data, Wake());
        dataListener.Reset();  // one data connection per PASV, as servers do
        if (status != IoStatus::kOk && status != IoStatus::kStopped) {
            Fail(std::string("no data connection: ") + IoStatusName(status));
        }
        return status;
    }
};

// Accepts the control connections one after the other and serves each its script. A client
// that never comes shows in WaitDone(); one more than scripted is a failure.
void Run(ScriptedServerState& state) {
    for (size_t next = 0;;) {
        UniqueFd control;
        const IoStatus status =
            AcceptWithin(state.listener.Get(), kNoDeadline, control, state.wakeRead.Get());
        if (status == IoStatus::kStopped) return;
        if (status != IoStatus::kOk) {
            state.Fail(std::string("accepting a control connection failed: ") +
                       std::strerror(errno));
            return;
        }
        if (!state.Locked([&] { return next < state.scripts.size(); })) {
            state.Fail("an unexpected control connection: the script has " + std::to_string(next) +
                       " connection(s)");
            continue;
        }
        Connection connection{state, next++, std::move(control)};
        if (connection.Serve() == Flow::kStopped) return;
    }
}

}  // namespace

template <typename ActionType>
ScriptStep& ScriptStep::Add(ActionType action) {
    state_->Locked(
        [&] { state_->scripts[connection_][step_].actions.emplace_back(std::move(action)); });
    return *this;
}

// A client that went away shows up at the next read, where it is judged.
ScriptStep& ScriptStep::Reply(std::string bytes) {
    return Add([bytes = std::move(bytes)](Connection& c, const std::string&) {
        return Stopped(c.Send(c.control.Get(), bytes));
    });
}

ScriptStep& ScriptStep::Delay(milliseconds duration) {
    return Add([duration](Connection& c, const std::string&) {
        return c.Sleep(duration) ? Flow::kContinue : Flow::kStopped;
    });
}

ScriptStep& ScriptStep::Passive(std::string address) {
    return Add([host = std::move(address)](Connection& c, const std::string&) mutable {
        c.dataListener = ListenLoopback("127.0.0.1", 0, 1);
        if (!c.dataListener) {
            c.Fail(std::string("cannot open a passive data listener: ") + std::strerror(errno));
            return Flow::kContinue;
        }
        c.mode = DataMode::kPassive;
        std::replace(host.begin(), host.end(), '.', ',');
        const uint16_t port = LocalPort(c.dataListener.Get());
        return Stopped(c.Send(c.control.Get(), "227 Entering Passive Mode (" + host + "," +
                                                   std::to_string(port / 256) + "," +
                                                   std::to_string(port % 256) + ")\r\n"));
    });
}

// "port h1,h2,h3,h4,p1,p2" (either case) names the address to connect to.
ScriptStep& ScriptStep::Active() {
    return Add([](Connection& c, const std::string& line) {
        unsigned n[6];
        char end = 0;
        const bool parsed = strncasecmp(line.c_str(), "port ", 5) == 0 &&
                            std::sscanf(line.c_str() + 5, "%u,%u,%u,%u,%u,%u%c", &n[0], &n[1],
                                        &n[2], &n[3], &n[4], &n[5], &end) == 6 &&
                            std::all_of(n, n + 6, [](unsigned v) { return v <= 255; });
        const std::string host = parsed ? std::to_string(n[0]) + "." + std::to_string(n[1]) + "." +
                                              std::to_string(n[2]) + "." + std::to_string(n[3])
                                        : "";
        if (!parsed) {
            c.Fail("no data address in " + Quote(line));
        } else if (!IsLoopbackAddress(host)) {
            c.Fail("refusing to connect to a non-loopback address " + Quote(host));
        } else {
            c.mode = DataMode::kActive;
            c.activeHost = host;
            c.activePort = static_cast<uint16_t>(n[4] * 256 + n[5]);
            c.dataListener.Reset();
        }
        return Flow::kContinue;
    });
}

ScriptStep& ScriptStep::SendData(std::string bytes, DataOptions options) {
    return Add([bytes = std::move(bytes), options](Connection& c, const std::string&) {
        UniqueFd data;
        const IoStatus opened = c.OpenData(data);
        if (opened != IoStatus::kOk) return Stopped(opened);
        DisableNagle(data.Get());
        std::string_view rest = bytes;
        if (options.resetAfter) rest = rest.substr(0, *options.resetAfter);
        const size_t piece = options.chunkSize ? options.chunkSize : rest.size();
        for (bool first = true; !rest.empty(); first = false) {
            if (!first && !c.Sleep(options.gap)) return Flow::kStopped;
            const size_t count = std::min(piece, rest.size());
            const IoStatus status = c.Send(data.Get(), rest.substr(0, count));
            if (status == IoStatus::kTimedOut) c.Fail("the client read no data in time");
            // A closed or reset data connection is the client's choice (an abort, say).
            if (status != IoStatus::kOk) return Stopped(status);
            rest.remove_prefix(count);
        }
        if (options.resetAfter) {
            CloseWithReset(data);
        } else if (options.stall) {
            c.stalledData.push_back(std::move(data));
        }
        return Flow::kContinue;
    });
}

ScriptStep& ScriptStep::ReceiveData() {
    return Add([](Connection& c, const std::string&) {
        UniqueFd data;
        const IoStatus opened = c.OpenData(data);
        if (opened != IoStatus::kOk) return Stopped(opened);
        std::string received;
        const IoStatus status = ReceiveUntilClosed(data.Get(), received, kStepTimeout, c.Wake());
        if (status == IoStatus::kStopped) return Flow::kStopped;
        if (status == IoStatus::kTimedOut) {
            c.Fail("the client neither sent data nor closed the data connection in time");
        }
        // A reset keeps what arrived before it: the test judges the bytes.
        c.state.Locked([&] { c.state.received.push_back(std::move(received)); });
        return Flow::kContinue;
    });
}

ScriptStep& ScriptStep::Drop() {
    return Add([](Connection& c, const std::string&) {
        c.control.Reset();
        return Flow::kEnded;
    });
}

ScriptStep& ScriptStep::Reset() {
    return Add([](Connection& c, const std::string&) {
        CloseWithReset(c.control);
        return Flow::kEnded;
    });
}

ScriptStep& ScriptStep::Stall() {
    return Add([](Connection&, const std::string&) { return Flow::kStalled; });
}

ScriptStep& ScriptStep::Flood(std::string line) {
    return Add([line = std::move(line)](Connection& c, const std::string&) {
        for (size_t sent = 0; sent < kFloodLimit && !line.empty(); sent += line.size()) {
            const IoStatus status = c.Send(c.control.Get(), line);
            if (status == IoStatus::kStopped) return Flow::kStopped;
            if (status != IoStatus::kOk) break;  // the client closed, reset or stopped reading
        }
        c.control.Reset();
        return Flow::kEnded;
    });
}

ScriptedFtpServer::ScriptedFtpServer() : state_(std::make_unique<ScriptedServerState>()) {
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
        state_->wakeRead.Reset(wake[0]);
        state_->wakeWrite.Reset(wake[1]);
        state_->listener = ListenLoopback();
    }
    if (!state_->listener) {
        state_->failures.push_back(std::string("cannot start: ") + std::strerror(errno));
        return;
    }
    state_->port = LocalPort(state_->listener.Get());
    state_->thread = std::thread([state = state_.get()] { Run(*state); });
}

ScriptedFtpServer::~ScriptedFtpServer() {
    if (!state_->thread.joinable()) return;
    const char stop = 1;
    [[maybe_unused]] const ssize_t written = write(state_->wakeWrite.Get(), &stop, 1);
    state_->thread.join();
}

uint16_t ScriptedFtpServer::Port() const {
    return state_->port;
}

ScriptStep ScriptedFtpServer::Greeting(std::string bytes) {
    const size_t connection = state_->Locked([&] { return state_->scripts.size() - 1; });
    return ScriptStep(*state_, connection, 0).Reply(std::move(bytes));
}

ScriptStep ScriptedFtpServer::Expect(std::string line) {
    std::string expected = Quote(line);
    return AddStep(std::move(expected),
                   [line = std::move(line)](std::string_view got) { return got == line; });
}

ScriptStep ScriptedFtpServer::ExpectPrefix(std::string prefix) {
    std::string expected = "a line starting with " + Quote(prefix);
    return AddStep(std::move(expected), [prefix = std::move(prefix)](std::string_view got) {
        return got.starts_with(prefix);
    });
}

ScriptStep ScriptedFtpServer::AddStep(std::string description,
                                      std::function<bool(std::string_view)> match) {
    return state_->Locked([&] {
        auto& steps = state_->scripts.back();
        steps.push_back(Step{std::move(description), std::move(match), {}});
        return ScriptStep(*state_, state_->scripts.size() - 1, steps.size() - 1);
    });
}

void ScriptedFtpServer::NextConnection() {
    state_->Locked([&] { state_->scripts.push_back({Step{}}); });
}

bool ScriptedFtpServer::WaitDone(std::optional<milliseconds> timeout) {
    std::unique_lock lock(state_->mutex);
    const auto walked = [&] { return state_->walkedConnections >= state_->scripts.size(); };
    state_->changed.wait_for(lock, timeout.value_or(kStepTimeout),
                             [&] { return !state_->failures.empty() || walked(); });
    return state_->failures.empty() && walked();
}

std::vector<std::string> ScriptedFtpServer::Transcript() const {
    return state_->Locked([&] { return state_->transcript; });
}

std::vector<std::string> ScriptedFtpServer::ReceivedData() const {
    return state_->Locked([&] { return state_->received; });
}

std::vector<std::string> ScriptedFtpServer::Failures() const {
    return state_->Locked([&] { return state_->failures; });
}

size_t ScriptedFtpServer::AcceptedConnections() const {
    return state_->Locked([&] { return state_->accepted; });
}

}  // namespace tarnwick::test
