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
#include <variant>

#include "loopback_socket.h"

namespace tarnwick::test {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kStepTimeout{10'000};  // bounds every wait of the server
constexpr size_t kMaxLineLength = 64 * 1024;
constexpr size_t kFloodLimit = size_t{64} << 20;

// The actions a step can carry; see ScriptStep for their meaning.
struct SendReply {
    std::vector<std::string> chunks;
    milliseconds gap{0};
};
struct Pause {
    milliseconds duration;
};
struct OpenPassive {
    PassiveOptions options;
};
struct UseActive {};
struct SendDataAction {
    std::string bytes;
    DataOptions options;
};
struct ReceiveDataAction {};
struct CloseControl {
    bool reset = false;
};
struct StallControl {};
struct FloodControl {
    std::string line;
};

using Action = std::variant<SendReply, Pause, OpenPassive, UseActive, SendDataAction,
                            ReceiveDataAction, CloseControl, StallControl, FloodControl>;

struct Step {
    std::string expected;  // how failure messages name what the step expects
    std::function<bool(std::string_view)> matches;
    std::vector<Action> actions;
};

struct ConnectionScript {
    std::vector<Action> onConnect;
    std::vector<Step> steps;
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

std::string Milliseconds(milliseconds duration) {
    return std::to_string(duration.count()) + " ms";
}

struct DataAddress {
    std::string host;
    uint16_t port = 0;
};

// "port h1,h2,h3,h4,p1,p2" (either case).
std::optional<DataAddress> ParseDataAddress(const std::string& line) {
    unsigned n[6];
    char end = 0;
    if (strncasecmp(line.c_str(), "port ", 5) != 0 ||
        std::sscanf(line.c_str() + 5, "%u,%u,%u,%u,%u,%u%c", &n[0], &n[1], &n[2], &n[3], &n[4],
                    &n[5], &end) != 6 ||
        std::any_of(n, n + 6, [](unsigned v) { return v > 255; })) {
        return std::nullopt;
    }
    return DataAddress{std::to_string(n[0]) + "." + std::to_string(n[1]) + "." +
                           std::to_string(n[2]) + "." + std::to_string(n[3]),
                       static_cast<uint16_t>(n[4] * 256 + n[5])};
}

std::string PassiveReply(std::string host, uint16_t port) {
    std::replace(host.begin(), host.end(), '.', ',');
    return "227 Entering Passive Mode (" + host + "," + std::to_string(port / 256) + "," +
           std::to_string(port % 256) + ")\r\n";
}

}  // namespace

// State shared by the test's threads and the server thread; every member after `mutex` is
// guarded by it. The descriptors are set before the thread starts and never change.
struct ScriptedFtpServer::Shared {
    UniqueFd listener;
    uint16_t port = 0;
    UniqueFd wakeRead;  // readable once the server is being destroyed
    UniqueFd wakeWrite;
    std::thread thread;

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<ConnectionScript> scripts = std::vector<ConnectionScript>(1);
    size_t walkedConnections = 0;  // connections whose script has run to its end
    std::vector<std::vector<std::string>> transcripts;
    std::vector<std::string> received;
    std::vector<std::string> failures;

    void Fail(std::string text) {
        std::lock_guard lock(mutex);
        failures.push_back(std::move(text));
        changed.notify_all();
    }
    bool HasScript(size_t connection) const {
        std::lock_guard lock(mutex);
        return connection < scripts.size();
    }
    size_t StepCount(size_t connection) const {
        std::lock_guard lock(mutex);
        return scripts[connection].steps.size();
    }
    // Copies, so that the server thread never reads a step while a test thread extends it.
    std::optional<Step> StepAt(size_t connection, size_t index) const {
        std::lock_guard lock(mutex);
        const auto& steps = scripts[connection].steps;
        if (index >= steps.size()) return std::nullopt;
        return steps[index];
    }
    std::vector<Action> OnConnectActions(size_t connection) const {
        std::lock_guard lock(mutex);
        return scripts[connection].onConnect;
    }
    void BeginConnection() {
        std::lock_guard lock(mutex);
        transcripts.emplace_back();
    }
    void Record(std::string line) {
        std::lock_guard lock(mutex);
        transcripts.back().push_back(std::move(line));
    }
    void AddReceived(std::string data) {
        std::lock_guard lock(mutex);
        received.push_back(std::move(data));
    }
    void MarkWalked(size_t connection) {
        std::lock_guard lock(mutex);
        walkedConnections = std::max(walkedConnections, connection + 1);
        changed.notify_all();
    }
};

// Serves the scripts; lives on the server thread and touches Shared only through its locked
// functions (and the descriptors, which are constant while it runs).
class ScriptedFtpServer::Runner {
public:
    explicit Runner(Shared& shared) : shared_(shared), wake_(shared.wakeRead.Get()) {}

    void Run();

private:
    enum class Flow { kContinue, kEnded, kStalled, kStopped };
    enum class DataMode { kNone, kPassive, kActive };

    // One accepted control connection and its data side; closing happens on destruction.
    struct Connection {
        size_t index = 0;
        size_t step = 0;  // the step being served, for failure messages
        UniqueFd control;
        std::string input;  // received bytes not yet split into lines
        DataMode mode = DataMode::kNone;
        UniqueFd dataListener;
        DataAddress activeAddress;
        std::vector<UniqueFd> stalledData;
    };

    Flow Serve(size_t index, UniqueFd control);
    Flow Linger(Connection& connection, Flow flow);
    void HandleLingeringLine(Connection& connection, const std::string& line, bool stalled);
    IoStatus ReadLine(Connection& connection, Deadline deadline, std::string& line);
    Flow ReadExpected(Connection& connection, const Step& step, std::string& line);
    Flow RunActions(Connection& connection, const std::vector<Action>& actions,
                    const std::string& line);

    Flow Do(Connection& connection, const SendReply& action, const std::string& line);
    Flow Do(Connection& connection, const Pause& action, const std::string& line);
    Flow Do(Connection& connection, const OpenPassive& action, const std::string& line);
    Flow Do(Connection& connection, const UseActive& action, const std::string& line);
    Flow Do(Connection& connection, const SendDataAction& action, const std::string& line);
    Flow Do(Connection& connection, const ReceiveDataAction& action, const std::string& line);
    Flow Do(Connection& connection, const CloseControl& action, const std::string& line);
    Flow Do(Connection& connection, const StallControl& action, const std::string& line);
    Flow Do(Connection& connection, const FloodControl& action, const std::string& line);

    IoStatus OpenData(Connection& connection, UniqueFd& data);
    IoStatus Send(int fd, std::string_view bytes) {
        return SendAll(fd, bytes, DeadlineAfter(timeout_), wake_);
    }
    bool Sleep(milliseconds duration) {
        return SleepUntil(DeadlineAfter(duration), wake_) != IoStatus::kStopped;
    }
    void Fail(const Connection& connection, const std::string& text) {
        shared_.Fail("connection " + std::to_string(connection.index) + ", step " +
                     std::to_string(connection.step) + ": " + text);
    }

    Shared& shared_;
    const int wake_;
    const milliseconds timeout_ = kStepTimeout;
};

void ScriptedFtpServer::Runner::Run() {
    size_t next = 0;
    bool missingReported = false;
    for (;;) {
        const bool bounded = shared_.HasScript(next) && !missingReported;
        UniqueFd control;
        const IoStatus status =
            AcceptWithin(shared_.listener.Get(), bounded ? DeadlineAfter(timeout_) : kNoDeadline,
                         control, wake_);
        if (status == IoStatus::kStopped) return;
        if (status == IoStatus::kTimedOut) {
            shared_.Fail("connection " + std::to_string(next) + ": no client connected within " +
                         Milliseconds(timeout_));
            missingReported = true;
            continue;
        }
        if (status != IoStatus::kOk) {
            shared_.Fail(std::string("accepting a control connection failed: ") +
                         std::strerror(errno));
            return;
        }
        if (!shared_.HasScript(next)) {
            shared_.Fail("an unexpected control connection: the script has " +
                         std::to_string(next) + " connection(s)");
            continue;
        }
        missingReported = false;
        if (Serve(next, std::move(control)) == Flow::kStopped) return;
        ++next;
    }
}

ScriptedFtpServer::Runner::Flow ScriptedFtpServer::Runner::Serve(size_t index, UniqueFd control) {
    Connection connection;
    connection.index = index;
    connection.control = std::move(control);
    DisableNagle(connection.control.Get());
    shared_.BeginConnection();

    Flow flow = RunActions(connection, shared_.OnConnectActions(index), "");
    bool scriptBroken = false;
    while (flow == Flow::kContinue) {
        const std::optional<Step> step = shared_.StepAt(index, connection.step);
        if (!step) break;
        std::string line;
        flow = ReadExpected(connection, *step, line);
        if (flow != Flow::kContinue) {
            scriptBroken = true;
            break;
        }
        flow = RunActions(connection, step->actions, line);
        ++connection.step;
    }
    if (flow == Flow::kStopped) return flow;
    const size_t left = shared_.StepCount(index) - connection.step;
    if (!scriptBroken && left > 0) {
        Fail(connection,
             std::to_string(left) + " step(s) follow the end of the connection and can never run");
    }
    shared_.MarkWalked(index);
    return Linger(connection, flow);
}

// After the script: keeps the connection until the client closes it, the next scripted
// connection arrives, or (stalled only) the step timeout passes.
ScriptedFtpServer::Runner::Flow ScriptedFtpServer::Runner::Linger(Connection& connection,
                                                                  Flow flow) {
    if (flow == Flow::kEnded) return Flow::kContinue;
    const bool stalled = flow == Flow::kStalled;
    const Deadline deadline = stalled ? DeadlineAfter(timeout_) : kNoDeadline;
    for (;;) {
        pollfd fds[3] = {{wake_, POLLIN, 0},
                         {connection.control.Get(), POLLIN, 0},
                         {shared_.listener.Get(), POLLIN, 0}};
        const int timeout =
            stalled ? static_cast<int>(std::max<int64_t>(
                          0, std::chrono::ceil<milliseconds>(deadline - Clock::now()).count()))
                    : -1;
        const int ready = poll(fds, 3, timeout);
        if (ready < 0 && errno == EINTR) continue;
        if (fds[0].revents != 0) return Flow::kStopped;
        if (ready <= 0) return Flow::kContinue;  // stall over (or poll failed): close
        if (fds[2].revents != 0) {
            if (shared_.HasScript(connection.index + 1)) return Flow::kContinue;
            UniqueFd extra;
            AcceptWithin(shared_.listener.Get(), Clock::now(), extra);
            shared_.Fail("an unexpected control connection while connection " +
                         std::to_string(connection.index) + " is open");
        }
        if (fds[1].revents != 0) {
            const IoStatus status =
                ReceiveSome(connection.control.Get(), connection.input, Clock::now());
            if (status == IoStatus::kClosed || status == IoStatus::kFailed) {
                return Flow::kContinue;
            }
            for (size_t end; (end = connection.input.find('\n')) != std::string::npos;) {
                std::string line = connection.input.substr(0, end);
                connection.input.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                HandleLingeringLine(connection, line, stalled);
                if (!connection.control) return Flow::kContinue;
            }
        }
    }
}

void ScriptedFtpServer::Runner::HandleLingeringLine(Connection& connection, const std::string& line,
                                                    bool stalled) {
    shared_.Record(line);
    if (stalled) return;  // a stalled server hears but never answers
    Fail(connection, "an unexpected command after the end of the script: " + Quote(line));
    Send(connection.control.Get(), "500 unexpected\r\n");
}

IoStatus ScriptedFtpServer::Runner::ReadLine(Connection& connection, Deadline deadline,
                                             std::string& line) {
    for (;;) {
        const size_t end = connection.input.find('\n');
        if (end != std::string::npos) {
            line = connection.input.substr(0, end);
            connection.input.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            } else {
                Fail(connection, "a line not ended by CR LF: " + Quote(line));
            }
            return IoStatus::kOk;
        }
        if (connection.input.size() > kMaxLineLength) {
            Fail(connection,
                 "a command line longer than " + std::to_string(kMaxLineLength) + " bytes");
            return IoStatus::kFailed;
        }
        const IoStatus status =
            ReceiveSome(connection.control.Get(), connection.input, deadline, wake_);
        if (status != IoStatus::kOk) return status;
    }
}

ScriptedFtpServer::Runner::Flow ScriptedFtpServer::Runner::ReadExpected(Connection& connection,
                                                                        const Step& step,
                                                                        std::string& line) {
    for (;;) {
        const IoStatus status = ReadLine(connection, DeadlineAfter(timeout_), line);
        if (status == IoStatus::kStopped) return Flow::kStopped;
        if (status != IoStatus::kOk) {
            std::string what = status == IoStatus::kTimedOut
                                   ? "no command within " + Milliseconds(timeout_)
                                   : std::string("the control connection ") + IoStatusName(status);
            if (!connection.input.empty()) what += " after " + Quote(connection.input);
            Fail(connection, "expected " + step.expected + ", but " + what);
            return Flow::kEnded;
        }
        shared_.Record(line);
        if (step.matches(line)) return Flow::kContinue;
        Fail(connection, "expected " + step.expected + ", got " + Quote(line));
        Send(connection.control.Get(), "500 unexpected\r\n");
    }
}

ScriptedFtpServer::Runner::Flow ScriptedFtpServer::Runner::RunActions(
    Connection& connection, const std::vector<Action>& actions, const std::string& line) {
    for (const Action& action : actions) {
        const Flow flow =
            std::visit([&](const auto& each) { return Do(connection, each, line); }, action);
        if (flow != Flow::kContinue) return flow;
    }
    return Flow::kContinue;
}

ScriptedFtpServer::Runner::Flow ScriptedFtpServer::Runner::Do(Connection& connection,
                                                              const SendReply& action,
                                                              const std::string&) {
    for (size_t i = 0; i < action.chunks.size(); ++i) {
        if (i > 0 && !Sleep(action.gap)) return Flow::kStopped;
        const IoStatus status = Send(connection.control.Get(), action.chunks[i]);
        if (status == IoStatus::kStopped) return Flow::kStopped;
        // A client that went away shows up at the next read, where it is judged.
        if (status != IoStatus::kOk) break;
    }
    return Flow::kContinue;
}

ScriptedFtpServer::Runner::Flow ScriptedFtpServer::Runner::Do(Connection&, const Pause& action,
                                                              const std::string&) {
    return Sleep(action.duration) ? Flow::kContinue : Flow::kStopped;
}

ScriptedFtpServer::Runner::Flow ScriptedFtpServer::Runner::Do(Connection& connection,
                                                              const OpenPassive& action,
                                                              const std::string&) {
    connection.dataListener = ListenLoopback("127.0.0.1", 0, 1);
    if (!connection.dataListener) {
        Fail(connection,
             std::string("cannot open a passive data listener: ") + std::strerror(errno));
        return Flow::kContinue;
    }
    connection.mode = DataMode::kPassive;
    const std::string& announced = action.options.announcedAddress;
    const std::string reply = PassiveReply(announced.empty() ? "127.0.0.1" : announced,
                                           LocalPort(connection.dataListener.Get()));
    return Send(connection.control.Get(), reply) == IoStatus::kStopped ? Flow::kStopped
                                                                       : Flow::kContinue;
}

ScriptedFtpServer::Runner::Flow ScriptedFtpServer::Runner::Do(Connection& connection,
                                                              const UseActive&,
                                                              const std::string& line) {
    const std::optional<DataAddress> address = ParseDataAddress(line);
    if (!address) {
        Fail(connection, "no data address in " + Quote(line));
    } else if (!IsLoopbackAddress(address->host)) {
        Fail(connection, "refusing to connect to a non-loopback address " + Quote(address->host));
    } else {
        connection.mode = DataMode::kActive;
        connection.activeAddress = *address;
        connection.dataListener.Reset();
    }
    return Flow::kContinue;
}

IoStatus ScriptedFtpServer::Runner::OpenData(Connection& connection, UniqueFd& data) {
    IoStatus status = IoStatus::kFailed;
    switch (connection.mode) {
        case DataMode::kPassive:
            if (!connection.dataListener) {
                Fail(connection, "a second data connection after one PASV");
                return IoStatus::kFailed;
            }
            status =
                AcceptWithin(connection.dataListener.Get(), DeadlineAfter(timeout_), data, wake_);
            connection.dataListener.Reset();  // one data connection per PASV, as servers do
            break;
        case DataMode::kActive:
            status = ConnectLoopback(connection.activeAddress.host, connection.activeAddress.port,
                                     DeadlineAfter(timeout_), data, wake_);
            break;
        case DataMode::kNone:
            Fail(connection, "a data action without PASV or PORT before it");
            return IoStatus::kFailed;
    }
    if (status != IoStatus::kOk && status != IoStatus::kStopped) {
        Fail(connection, std::string("no data connection: ") + IoStatusName(status));
    }
    return status;
}

ScriptedFtpServer::Runner::Flow ScriptedFtpServer::Runner::Do(Connection& connection,
                                                              const SendDataAction& action,
                                                              const std::string&) {
    UniqueFd data;
    const IoStatus opened = OpenData(connection, data);
    if (opened == IoStatus::kStopped) return Flow::kStopped;
    if (opened != IoStatus::kOk) return Flow::kContinue;
    DisableNagle(data.Get());

    const DataOptions& options = action.options;
    std::string_view rest = action.bytes;
    if (options.resetAfter) rest = rest.substr(0, *options.resetAfter);
    const size_t piece = options.chunkSize ? options.chunkSize : std::max<size_t>(rest.size(), 1);
    for (bool first = true; !rest.empty(); first = false) {
        if (!first && !Sleep(options.gap)) return Flow::kStopped;
        const size_t count = std::min(piece, rest.size());
        const IoStatus status = Send(data.Get(), rest.substr(0, count));
        if (status == IoStatus::kStopped) return Flow::kStopped;
        if (status == IoStatus::kTimedOut) {
            Fail(connection, "the client read no data for " + Milliseconds(timeout_));
        }
        // A closed or reset data connection is the client's choice (an abort, say).
        if (status != IoStatus::kOk) break;
        rest.remove_prefix(count);
    }
    if (options.resetAfter) {
        CloseWithReset(data);
    } else if (options.stall) {
        connection.stalledData.push_back(std::move(data));
    }
    return Flow::kContinue;
}

ScriptedFtpServer::Runner::Flow ScriptedFtpServer::Runner::Do(Connection& connection,
                                                              const ReceiveDataAction&,
                                                              const std::string&) {
    UniqueFd data;
    const IoStatus opened = OpenData(connection, data);
    if (opened == IoStatus::kStopped) return Flow::kStopped;
    if (opened != IoStatus::kOk) return Flow::kContinue;
    std::string received;
    const IoStatus status = ReceiveUntilClosed(data.Get(), received, timeout_, wake_);
    if (status == IoStatus::kStopped) return Flow::kStopped;
    if (status == IoStatus::kTimedOut) {
        Fail(connection, "the client neither sent data nor closed the data connection for " +
                             Milliseconds(timeout_));
    }
    // A reset keeps what arrived before it: the test judges the bytes.
    shared_.AddReceived(std::move(received));
    return Flow::kContinue;
}

ScriptedFtpServer::Runner::Flow ScriptedFtpServer::Runner::Do(Connection& connection,
                                                              const CloseControl& action,
                                                              const std::string&) {
    if (action.reset) {
        CloseWithReset(connection.control);
    } else {
        connection.control.Reset();
    }
    return Flow::kEnded;
}

ScriptedFtpServer::Runner::Flow ScriptedFtpServer::Runner::Do(Connection&, const StallControl&,
                                                              const std::string&) {
    return Flow::kStalled;
}

ScriptedFtpServer::Runner::Flow ScriptedFtpServer::Runner::Do(Connection& connection,
                                                              const FloodControl& action,
                                                              const std::string&) {
    for (size_t sent = 0; sent < kFloodLimit && !action.line.empty(); sent += action.line.size()) {
        const IoStatus status = Send(connection.control.Get(), action.line);
        if (status == IoStatus::kStopped) return Flow::kStopped;
        if (status != IoStatus::kOk) break;  // the client gave up: closed, reset or stopped reading
    }
    connection.control.Reset();
    return Flow::kEnded;
}

template <typename ActionType>
ScriptStep& ScriptStep::Add(ActionType action) {
    ScriptedFtpServer::Shared& shared = *server_->shared_;
    std::lock_guard lock(shared.mutex);
    ConnectionScript& script = shared.scripts[connection_];
    std::vector<Action>& actions = step_ ? script.steps[*step_].actions : script.onConnect;
    actions.emplace_back(std::move(action));
    return *this;
}

ScriptStep& ScriptStep::Reply(std::string bytes) {
    return Add(SendReply{{std::move(bytes)}, milliseconds{0}});
}

ScriptStep& ScriptStep::ReplyInChunks(std::vector<std::string> chunks, milliseconds gap) {
    return Add(SendReply{std::move(chunks), gap});
}

ScriptStep& ScriptStep::Delay(milliseconds duration) {
    return Add(Pause{duration});
}

ScriptStep& ScriptStep::Passive(PassiveOptions options) {
    return Add(OpenPassive{std::move(options)});
}

ScriptStep& ScriptStep::Active() {
    return Add(UseActive{});
}

ScriptStep& ScriptStep::SendData(std::string bytes, DataOptions options) {
    return Add(SendDataAction{std::move(bytes), options});
}

ScriptStep& ScriptStep::ReceiveData() {
    return Add(ReceiveDataAction{});
}

ScriptStep& ScriptStep::Drop() {
    return Add(CloseControl{false});
}

ScriptStep& ScriptStep::Reset() {
    return Add(CloseControl{true});
}

ScriptStep& ScriptStep::Stall() {
    return Add(StallControl{});
}

ScriptStep& ScriptStep::Flood(std::string line) {
    return Add(FloodControl{std::move(line)});
}

ScriptedFtpServer::ScriptedFtpServer() : shared_(std::make_unique<Shared>()) {
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        shared_->failures.push_back(std::string("cannot create a pipe: ") + std::strerror(errno));
        return;
    }
    shared_->wakeRead.Reset(wake[0]);
    shared_->wakeWrite.Reset(wake[1]);
    shared_->listener = ListenLoopback();
    if (!shared_->listener) {
        shared_->failures.push_back(std::string("cannot listen on 127.0.0.1: ") +
                                    std::strerror(errno));
        return;
    }
    shared_->port = LocalPort(shared_->listener.Get());
    shared_->thread = std::thread([shared = shared_.get()] { Runner(*shared).Run(); });
}

ScriptedFtpServer::~ScriptedFtpServer() {
    if (!shared_->thread.joinable()) return;
    const char stop = 1;
    [[maybe_unused]] const ssize_t written = write(shared_->wakeWrite.Get(), &stop, 1);
    shared_->thread.join();
}

uint16_t ScriptedFtpServer::Port() const {
    return shared_->port;
}

ScriptStep ScriptedFtpServer::OnConnect() {
    std::lock_guard lock(shared_->mutex);
    return ScriptStep(*this, shared_->scripts.size() - 1, std::nullopt);
}

ScriptStep ScriptedFtpServer::Greeting(std::string bytes) {
    return OnConnect().Reply(std::move(bytes));
}

ScriptStep ScriptedFtpServer::Expect(std::string line) {
    std::string expected = Quote(line);
    return AddStep(std::move(expected),
                   [line = std::move(line)](std::string_view got) { return got == line; });
}

ScriptStep ScriptedFtpServer::ExpectPrefix(std::string prefix) {
    std::string expected = "a line starting with " + Quote(prefix);
    return AddStep(std::move(expected), [prefix = std::move(prefix)](std::string_view got) {
        return got.substr(0, prefix.size()) == prefix;
    });
}

ScriptStep ScriptedFtpServer::AddStep(std::string description,
                                      std::function<bool(std::string_view)> match) {
    std::lock_guard lock(shared_->mutex);
    auto& steps = shared_->scripts.back().steps;
    steps.push_back(Step{std::move(description), std::move(match), {}});
    return ScriptStep(*this, shared_->scripts.size() - 1, steps.size() - 1);
}

void ScriptedFtpServer::NextConnection() {
    std::lock_guard lock(shared_->mutex);
    shared_->scripts.emplace_back();
    shared_->changed.notify_all();
}

bool ScriptedFtpServer::WaitDone(std::optional<milliseconds> timeout) {
    std::unique_lock lock(shared_->mutex);
    const auto finished = [this] {
        return !shared_->failures.empty() || shared_->walkedConnections >= shared_->scripts.size();
    };
    shared_->changed.wait_for(lock, timeout.value_or(kStepTimeout), finished);
    return shared_->failures.empty() && shared_->walkedConnections >= shared_->scripts.size();
}

std::vector<std::string> ScriptedFtpServer::Transcript() const {
    std::lock_guard lock(shared_->mutex);
    std::vector<std::string> all;
    for (const auto& lines : shared_->transcripts)
        all.insert(all.end(), lines.begin(), lines.end());
    return all;
}

std::vector<std::string> ScriptedFtpServer::Transcript(size_t connection) const {
    std::lock_guard lock(shared_->mutex);
    if (connection >= shared_->transcripts.size()) return {};
    return shared_->transcripts[connection];
}

std::vector<std::string> ScriptedFtpServer::ReceivedData() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->received;
}

std::vector<std::string> ScriptedFtpServer::Failures() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->failures;
}

size_t ScriptedFtpServer::AcceptedConnections() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->transcripts.size();
}

}  // namespace tarnwick::test
