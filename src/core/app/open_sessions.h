// The list of open sessions, owned by the engine: every CFtpSession the user has opened, in
// the order they were opened, with the session list view's selection and the active session
// (the one whose panes are shown). On top of it: finding a session for a host, saving and
// importing queue files over all sessions, the autosaved queue, and closing every session
// at shutdown.
//
// Threads: the list locks itself, so any thread may read it; adding and removing sessions,
// the queue file operations and CloseAllSessions belong to the front end's thread. No lock is
// held while a question is asked, a session is closed or the listener is called.
//
// Listener: the front end learns of every session that enters the list (Add, a queue import)
// and of every one that leaves it (Remove, CloseAllSessions), by id, on the thread that made
// the change, with no lock held (it may call back into the list).
//
// Ownership: the list holds the sessions by shared_ptr. A session removed from the list is
// closed (its worker stopped) and destroyed when the last holder lets go of it.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_settings.h"
#include "queue/queue_file.h"
#include "session/ftp_session.h"
#include "sites/site_setting.h"

namespace tarnwick {

inline constexpr std::string_view kAutosaveQueueFileName = "autosave.que";

struct QueueImportResult {
    int result = 0;     // 0, or -1 when the file could not be opened
    std::string error;  // then "Can't open" followed by the path
    // Sections left out (no host address) and problems the reader met.
    std::vector<std::string> warnings;
    // Sessions the import opened (not connected), in file order; also in the list now.
    std::vector<std::shared_ptr<CFtpSession>> openedSessions;
    // The session of the last section read: now the only selected one. Null when none.
    std::shared_ptr<CFtpSession> lastSession;
    size_t importedItems = 0;
};

class OpenSessionsListener {
public:
    virtual ~OpenSessionsListener() = default;
    virtual void OnSessionOpened(const std::shared_ptr<CFtpSession>& session) = 0;
    virtual void OnSessionClosed(SessionId id) = 0;  // out of the list (it may still close)
};

class OpenSessions {
public:
    using SessionPtr = std::shared_ptr<CFtpSession>;
    // Asked before a transferring session is closed: true for OK, false for Cancel.
    using AskOkCancel = std::function<bool(CFtpSession& session, const std::string& text)>;

    OpenSessions() = default;
    ~OpenSessions();  // closes whatever is still open, without asking
    OpenSessions(const OpenSessions&) = delete;
    OpenSessions& operator=(const OpenSessions&) = delete;

    // Replaces the listener (null: none). Not owned; it must outlive the list or be replaced.
    void SetListener(OpenSessionsListener* listener);

    // ---- the list ----
    // Appends a session (ignored when null or already listed); with `select` it becomes the
    // only selected session.
    void Add(SessionPtr session, bool select = false);
    // Takes the session out of the list (and out of the selection; no longer active) and
    // returns it; null when it was not listed. The caller closes it or lets it go.
    SessionPtr Remove(const CFtpSession& session);
    std::vector<SessionPtr> Sessions() const;  // in list order, at this moment
    size_t Size() const;
    bool Empty() const;
    SessionPtr Find(const CFtpSession& session) const;  // the list's own pointer, or null
    SessionPtr FindById(SessionId id) const;            // null when no listed session has it

    // The first session for `host` (exact, case matters) that is not busy; when all are
    // busy the first of them; null when none.
    SessionPtr FindSessionByHost(std::string_view host) const;

    // ---- active session and selection ----
    void SetActive(const CFtpSession* session);  // null: none; ignored when not listed
    SessionPtr Active() const;
    void SetSelected(const CFtpSession& session, bool selected);
    void SelectOnly(const CFtpSession& session);
    std::vector<SessionPtr> Selected() const;  // in list order

    // ---- queue files ----
    // Writes the queues of all sessions, or of the selected ones, to `path` (one section per
    // session with a non-empty queue, in list order), through a temporary file.
    QueueSaveResult SaveQueues(const std::string& path, bool selectedOnly) const;
    // The name a save dialog proposes: "allsites.que"; for the selected sessions, the one
    // selected session's host address + ".que", or "selsites.que" for several.
    std::string DefaultQueueFileName(bool selectedOnly) const;
    // Reads a queue file and appends each section's items to a session for its host: the
    // first open one that is not busy (else the first open one), else a new session, not
    // connected, made from the site list's record for that host (SiteForHost) and appended
    // to this list. The session of the last section becomes the only selected one.
    QueueImportResult ImportQueues(const std::string& path, const std::vector<SiteSetting>& sites,
                                   std::string_view anonymousPass,
                                   std::shared_ptr<const AppSettings> settings,
                                   SessionObserver& observer);

    // ---- shutdown ----
    // Closes the sessions one by one from the head of the list. Before a session that is
    // busy it asks "Are you sure to abort file transfer on site " + host + "?"; Cancel ends
    // here with false, and the rest stay open. True when every session was closed.
    bool CloseAllSessions(const AskOkCancel& ask);

private:
    struct Entry {
        SessionPtr session;
        bool selected = false;
    };

    SessionPtr FindOrOpenForHost(const std::string& host, const std::vector<SiteSetting>& sites,
                                 std::string_view anonymousPass,
                                 const std::shared_ptr<const AppSettings>& settings,
                                 SessionObserver& observer, QueueImportResult& result);
    std::vector<Entry>::const_iterator FindEntry(const CFtpSession& session) const;  // locked

    OpenSessionsListener* Listener() const;

    mutable std::mutex mutex;  // guards entries, active and listener
    std::vector<Entry> entries;
    const CFtpSession* active = nullptr;
    OpenSessionsListener* listener = nullptr;
};

// The autosaved queue in the program home (`programHome` ends with "/" or not).
std::string AutosaveQueuePath(const std::string& programHome);
// At exit: with "SaveQueue" on, every session's queue goes to "autosave.que"; with it off,
// that file is deleted. True when that was done.
bool AutosaveQueues(const OpenSessions& sessions, const AppSettings& settings,
                    const std::string& programHome);
// At start: imports "autosave.que" when it exists (result 0 with nothing imported when not).
QueueImportResult ImportAutosavedQueues(OpenSessions& sessions, const std::string& programHome,
                                        const std::vector<SiteSetting>& sites,
                                        std::shared_ptr<const AppSettings> settings,
                                        SessionObserver& observer);

}  // namespace tarnwick
