// The list of open sessions and what is done over all of them.
#include "app/open_sessions.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "listing/paths.h"
#include "sites/site_list.h"

namespace tarnwick {

OpenSessions::~OpenSessions() {
    CloseAllSessions([](CFtpSession&, const std::string&) { return true; });
}

void OpenSessions::SetListener(OpenSessionsListener* newListener) {
    std::lock_guard lock(mutex);
    listener = newListener;
}

OpenSessionsListener* OpenSessions::Listener() const {
    std::lock_guard lock(mutex);
    return listener;
}

void OpenSessions::Add(SessionPtr session, bool select) {
    if (!session) return;
    {
        std::lock_guard lock(mutex);
        if (FindEntry(*session) != entries.end()) return;
        if (select) {
            for (Entry& entry : entries) entry.selected = false;
        }
        entries.push_back(Entry{session, select});
    }
    if (OpenSessionsListener* told = Listener()) told->OnSessionOpened(session);
}

OpenSessions::SessionPtr OpenSessions::Remove(const CFtpSession& session) {
    SessionPtr removed;
    {
        std::lock_guard lock(mutex);
        auto found = FindEntry(session);
        if (found == entries.end()) return nullptr;
        removed = found->session;
        entries.erase(found);
        if (active == &session) active = nullptr;
    }
    if (OpenSessionsListener* told = Listener()) told->OnSessionClosed(removed->Id());
    return removed;
}

OpenSessions::SessionPtr OpenSessions::FindById(SessionId id) const {
    std::lock_guard lock(mutex);
    auto found = std::find_if(entries.begin(), entries.end(),
                              [&](const Entry& entry) { return entry.session->Id() == id; });
    return found == entries.end() ? nullptr : found->session;
}

std::vector<OpenSessions::SessionPtr> OpenSessions::Sessions() const {
    std::lock_guard lock(mutex);
    std::vector<SessionPtr> sessions;
    for (const Entry& entry : entries) sessions.push_back(entry.session);
    return sessions;
}

size_t OpenSessions::Size() const {
    std::lock_guard lock(mutex);
    return entries.size();
}

bool OpenSessions::Empty() const {
    return Size() == 0;
}

OpenSessions::SessionPtr OpenSessions::Find(const CFtpSession& session) const {
    std::lock_guard lock(mutex);
    auto found = FindEntry(session);
    return found == entries.end() ? nullptr : found->session;
}

OpenSessions::SessionPtr OpenSessions::FindSessionByHost(std::string_view host) const {
    std::lock_guard lock(mutex);
    SessionPtr firstMatch;
    for (const Entry& entry : entries) {
        if (entry.session->HostAddress() != host) continue;
        if (!entry.session->IsBusy()) return entry.session;
        if (!firstMatch) firstMatch = entry.session;
    }
    return firstMatch;
}

void OpenSessions::SetActive(const CFtpSession* session) {
    std::lock_guard lock(mutex);
    if (session == nullptr || FindEntry(*session) != entries.end()) active = session;
}

OpenSessions::SessionPtr OpenSessions::Active() const {
    std::lock_guard lock(mutex);
    if (active == nullptr) return nullptr;
    auto found = FindEntry(*active);
    return found == entries.end() ? nullptr : found->session;
}

void OpenSessions::SetSelected(const CFtpSession& session, bool selected) {
    std::lock_guard lock(mutex);
    for (Entry& entry : entries) {
        if (entry.session.get() == &session) entry.selected = selected;
    }
}

void OpenSessions::SelectOnly(const CFtpSession& session) {
    std::lock_guard lock(mutex);
    for (Entry& entry : entries) entry.selected = entry.session.get() == &session;
}

std::vector<OpenSessions::SessionPtr> OpenSessions::Selected() const {
    std::lock_guard lock(mutex);
    std::vector<SessionPtr> sessions;
    for (const Entry& entry : entries) {
        if (entry.selected) sessions.push_back(entry.session);
    }
    return sessions;
}

QueueSaveResult OpenSessions::SaveQueues(const std::string& path, bool selectedOnly) const {
    std::vector<QueueSection> sections;
    for (const SessionPtr& session : selectedOnly ? Selected() : Sessions()) {
        sections.push_back(QueueSection{session->HostAddress(), session->queue.Snapshot()});
    }
    return tarnwick::SaveQueues(path, sections);
}

std::string OpenSessions::DefaultQueueFileName(bool selectedOnly) const {
    if (!selectedOnly) return "allsites.que";
    const std::vector<SessionPtr> selected = Selected();
    if (selected.size() == 1) return selected.front()->HostAddress() + ".que";
    return selected.empty() ? "allsites.que" : "selsites.que";
}

QueueImportResult OpenSessions::ImportQueues(const std::string& path,
                                             const std::vector<SiteSetting>& sites,
                                             std::string_view anonymousPass,
                                             std::shared_ptr<const AppSettings> settings,
                                             SessionObserver& observer) {
    QueueImportResult result;
    QueueFileContents contents = ReadQueueFile(path);
    if (!contents.opened) {
        result.result = -1;
        result.error = contents.error;
        return result;
    }
    result.warnings = std::move(contents.warnings);
    for (QueueSection& section : contents.sections) {
        if (section.hostAddress.empty()) {
            result.warnings.push_back("A section without host address in " + path + " skipped.");
            continue;
        }
        SessionPtr session = FindOrOpenForHost(section.hostAddress, sites, anonymousPass, settings,
                                               observer, result);
        result.importedItems += section.items.size();
        session->queue.AppendAll(std::move(section.items));
        result.lastSession = std::move(session);
    }
    if (result.lastSession) SelectOnly(*result.lastSession);
    return result;
}

OpenSessions::SessionPtr OpenSessions::FindOrOpenForHost(
    const std::string& host, const std::vector<SiteSetting>& sites, std::string_view anonymousPass,
    const std::shared_ptr<const AppSettings>& settings, SessionObserver& observer,
    QueueImportResult& result) {
    if (SessionPtr open = FindSessionByHost(host)) return open;
    auto session =
        std::make_shared<CFtpSession>(SiteForHost(sites, host, anonymousPass), settings, observer);
    Add(session);
    result.openedSessions.push_back(session);
    return session;
}

bool OpenSessions::CloseAllSessions(const AskOkCancel& ask) {
    while (true) {
        SessionPtr first;
        {
            std::lock_guard lock(mutex);
            if (entries.empty()) return true;
            first = entries.front().session;
        }
        if (first->IsBusy() && !ask(*first, "Are you sure to abort file transfer on site " +
                                                first->HostAddress() + "?")) {
            return false;
        }
        Remove(*first);
        first->CloseSession();
    }
}

std::vector<OpenSessions::Entry>::const_iterator OpenSessions::FindEntry(
    const CFtpSession& session) const {
    return std::find_if(entries.begin(), entries.end(),
                        [&](const Entry& entry) { return entry.session.get() == &session; });
}

std::string AutosaveQueuePath(const std::string& programHome) {
    return JoinPath(programHome, kAutosaveQueueFileName, '/');
}

bool AutosaveQueues(const OpenSessions& sessions, const AppSettings& settings,
                    const std::string& programHome) {
    const std::string path = AutosaveQueuePath(programHome);
    if (!settings.saveQueue) {
        std::error_code error;
        std::filesystem::remove(path, error);
        return !error;
    }
    return sessions.SaveQueues(path, false).write == AtomicWriteResult::kWritten;
}

QueueImportResult ImportAutosavedQueues(OpenSessions& sessions, const std::string& programHome,
                                        const std::vector<SiteSetting>& sites,
                                        std::shared_ptr<const AppSettings> settings,
                                        SessionObserver& observer) {
    const std::string path = AutosaveQueuePath(programHome);
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return {};
    const std::string anonymousPass = settings ? settings->anonymousPass : std::string();
    return sessions.ImportQueues(path, sites, anonymousPass, std::move(settings), observer);
}

}  // namespace tarnwick
