// The queue run's cycles: the walk over the queue, what becomes of each item, the end of the
// run. The items' own work is in queue_download.cpp, queue_upload.cpp and queue_expand.cpp.
#include "queue/queue_run.h"

#include "listing/paths.h"
#include "listing/url.h"
#include "session/ftp_session.h"

namespace tarnwick {

namespace {

constexpr const char* kStoppedItemsQuestion = "Do you want to transfer the stopped items again?";

// An item made with a partner, whether or not that session is still open.
bool IsSiteToSite(const QueueItem& item) {
    const std::weak_ptr<CFtpSession> none;
    return item.partner.owner_before(none) || none.owner_before(item.partner);
}

// Results after which the walk does not go on to the next item.
bool EndsWalk(int result) {
    return result == kResultInterrupted || result == kResultConnectionClosed ||
           result == kResultGaveUp;
}

}  // namespace

int CFtpSession::RunQueue() {
    return CQueueRun(*this).Run();
}

CQueueRun::CQueueRun(CFtpSession& runSession) : session(runSession) {}

int CQueueRun::Run() {
    AskAboutStoppedItems();
    session.queueFinished = false;
    session.Log("Starting to transfer queued files...", LOG_STATE);
    const int result = RunCycles();
    EndOfRun(result);
    return ResultAfterLostConnection(result);
}

void CQueueRun::AskAboutStoppedItems() {
    const bool autoReset = session.CommandSettings().autoReset;
    bool includeStopped = autoReset;
    if (!autoReset && session.HasStopped()) {
        includeStopped = session.Ask(kStoppedItemsQuestion, kAskYesNo | kAskQuestion) == kAnswerYes;
    }
    session.ResetQueue(includeStopped);
}

int CQueueRun::RunCycles() {
    int result = kResultOk;
    while (RunOneWalk(result) && EndOfList(result)) {
    }
    return result;
}

// One pass from the head of the queue. Items added, moved or removed meanwhile are handled
// by the queue's walk: each item still queued is taken once.
bool CQueueRun::RunOneWalk(int& result) {
    TransferQueue& queue = session.queue;
    QueueWalk walk = queue.BeginWalk();
    while (std::shared_ptr<QueueItem> item = queue.StartNext(walk)) {
        bool partnerBusy = false;
        session.currentItemId = item->id;
        result = IsSiteToSite(*item) ? ExecuteWithPartner(*item, partnerBusy) : ExecuteItem(*item);
        session.currentItemId = 0;
        if (partnerBusy) {
            // The item waits for a later run rather than staying "transferring" for good.
            queue.SetItemState(*item, QueueState::kQueued);
            endedForBusyPartner = true;
            result = kResultOk;
            return false;
        }
        FinishItem(*item, result);
        if (EndsWalk(result)) return false;
    }
    return true;
}

// The end of the list: done, stopped, out of cycles, or another cycle after the delay.
bool CQueueRun::EndOfList(int& result) {
    const AppSettings& settings = session.CommandSettings();
    if (session.queue.Empty()) {
        session.Log("All queue file transferred successfully.", LOG_STATE);
        return false;
    }
    if (session.AllStopped()) {
        session.Log("Transfer stopped. Some files remain in queue.", LOG_ERROR);
        return false;
    }
    ++cycle;
    if (cycle > settings.errorRetry && !settings.alwaysRetry) {
        session.Log("Max cycles reached, stop queue transfer.", LOG_ERROR);
        return false;
    }
    const int waited = session.WaitRetryDelay();
    if (waited != kResultTimedOut) {
        result = waited;
        return false;
    }
    session.Log("Retrying to transfer entire queue. Cycle #" + std::to_string(cycle) + "...",
                LOG_STATE);
    session.ResetQueue(false);
    return true;
}

int CQueueRun::ExecuteItem(QueueItem& item) {
    SessionObserver& observer = session.Observer();
    observer.OnQueueItemStarted(session, item.id, false);
    int result = kResultFailed;
    switch (item.operation) {
        case QueueOperation::kDownload:
            result = RunDownloadItem(item, kListFlagDownload);
            if (result == kResultOk) AfterDownload(item);
            break;
        case QueueOperation::kCacheDir:
            result = RunDownloadItem(item, kListFlagCacheDir);
            break;
        case QueueOperation::kUpload:
            result = RunUploadItem(item);
            break;
        case QueueOperation::kDelete:
            result = RunDeleteItem(item);
            break;
    }
    if (result == kResultOk) {
        observer.OnQueueItemStarted(session, item.id, true);
    }
    return result;
}

// A site-to-site item: the partner's busy flag is held for the item; a partner without a
// worker of its own is borrowed and logged in from this thread (see CFtpSession::BorrowPartner).
int CQueueRun::ExecuteWithPartner(QueueItem& item, bool& partnerBusy) {
    // Held for the whole item: closing the partner meanwhile cannot destroy it under us.
    const std::shared_ptr<CFtpSession> held = item.partner.lock();
    const CFtpSession::BorrowResult borrowed = CFtpSession::BorrowPartner(held, session);
    if (borrowed == CFtpSession::BorrowResult::kBusy) {
        partnerBusy = true;
        return kResultOk;
    }
    if (borrowed == CFtpSession::BorrowResult::kGone) {
        session.Log("The partner session of a site-to-site item is closed; item stopped.",
                    LOG_ERROR);
        return kResultRefused;
    }
    CFtpSession& partner = *held;
    borrowedPartner = &partner;
    int result = kResultFailed;
    if (borrowed == CFtpSession::BorrowResult::kBorrowed) {
        const int connected = partner.ConnectForBorrower();
        // The partner's own connect failing is this item's failure, not the end of the run.
        if (connected == kResultInterrupted) result = kResultInterrupted;
        if (connected == kResultOk) result = ExecuteLinked(item, partner);
    } else if (partner.loggedIn) {
        result = ExecuteLinked(item, partner);
    } else {
        session.Log("The partner session of a site-to-site item is not connected.", LOG_ERROR);
    }
    partner.Observer().OnRefresh(partner);
    partner.ReturnToOwner();
    borrowedPartner = nullptr;
    return result;
}

// While linked, a Stop of the partner stops this session, which ends both halves.
int CQueueRun::ExecuteLinked(QueueItem& item, CFtpSession& partner) {
    session.partnerA = &partner;
    partner.partnerB = &session;
    const int result = ExecuteItem(item);
    partner.partnerB = nullptr;
    session.partnerA = nullptr;
    return result;
}

void CQueueRun::AfterDownload(const QueueItem& item) {
    if (item.afterDownload == AfterDownload::kNothing || IsSiteToSite(item) ||
        IsFtpUrl(item.clientPath)) {
        return;
    }
    const std::string path = JoinPath(item.clientPath, LastComponent(item.serverPath), '/');
    const std::string viewer =
        item.afterDownload == AfterDownload::kView ? session.CommandSettings().viewerPath : "";
    session.Observer().OnOpenFile(session, path, viewer);
}

void CQueueRun::FinishItem(QueueItem& item, int result) {
    if (result == kResultOk) {
        session.queue.RemoveSucceeded(item);
        return;
    }
    ++item.failures;
    const AppSettings& settings = session.CommandSettings();
    const bool lastCycle = cycle >= settings.errorRetry && !settings.alwaysRetry;
    const bool stopped = result == kResultInterrupted || result == kResultRefused || lastCycle;
    session.queue.SetItemState(item, stopped ? QueueState::kStopped : QueueState::kError);
}

void CQueueRun::EndOfRun(int result) {
    session.queueFinished = true;
    // Whether the run goes on after a reconnect is settled before anyone hears of its end. A
    // run that met a busy partner is over too: nothing would start it again by itself.
    if (session.AllStopped() || result == kResultInterrupted || endedForBusyPartner) {
        session.queueRunRequested = false;
        session.remoteSize = -1;
        session.resumeOffset = 0;
        session.transferInProgress = false;
    }
    SessionObserver& observer = session.Observer();
    if (session.loggedIn) observer.OnRefresh(session);
    observer.OnQueueFinished(session);
}

// A lost connection ends the run after the retry delay; the worker then reconnects and runs
// the queue again, because queueRunRequested is still set.
int CQueueRun::ResultAfterLostConnection(int result) {
    if (result != kResultConnectionClosed) return result;
    if (session.WaitRetryDelay() != kResultInterrupted) return kResultConnectionClosed;
    // Stopped while waiting: nothing will resume the run.
    session.queueRunRequested = false;
    return kResultInterrupted;
}

}  // namespace tarnwick
