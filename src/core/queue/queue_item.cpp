// Queue items: size halves and display texts.
#include "queue/queue_item.h"

#include <array>
#include <atomic>

namespace tarnwick {

namespace {

// The text for `value` in `texts`, empty when it is out of range.
template <size_t N>
std::string_view TextAt(const std::array<std::string_view, N>& texts, int value) {
    if (value < 0 || static_cast<size_t>(value) >= N) return {};
    return texts[static_cast<size_t>(value)];
}

// Item ids are unique in the process and never 0.
std::atomic<uint64_t> nextItemId{1};

}  // namespace

QueueItem::QueueItem() : id(nextItemId.fetch_add(1, std::memory_order_relaxed)) {}

int64_t QueueItem::Size() const {
    if (sizeHigh < 0 || (sizeHigh == 0 && sizeLow == -1)) return kUnknownSize;
    return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(sizeHigh)) << 32) |
                                static_cast<uint32_t>(sizeLow));
}

void QueueItem::SetSize(int64_t size) {
    if (size < 0) {
        sizeHigh = 0;
        sizeLow = -1;
        return;
    }
    const auto bits = static_cast<uint64_t>(size);
    sizeHigh = static_cast<int32_t>(static_cast<uint32_t>(bits >> 32));
    sizeLow = static_cast<int32_t>(static_cast<uint32_t>(bits));
}

std::shared_ptr<QueueItem> MakeQueueItem(QueueOperation operation, std::string clientPath,
                                         std::string serverPath, int64_t size, QueueItemKind kind) {
    auto item = std::make_shared<QueueItem>();
    item->operation = operation;
    item->clientPath = std::move(clientPath);
    item->serverPath = std::move(serverPath);
    item->SetSize(size);
    item->kind = kind;
    return item;
}

std::string_view QueueStateText(QueueState state) {
    static constexpr std::array<std::string_view, 4> kTexts = {"queued", "transferring", "error",
                                                               "stopped"};
    return TextAt(kTexts, static_cast<int>(state));
}

std::string_view QueueOperationText(QueueOperation operation) {
    static constexpr std::array<std::string_view, 4> kTexts = {"Download", "Upload", "Delete",
                                                               "CacheDir"};
    return TextAt(kTexts, static_cast<int>(operation));
}

std::string_view OverwriteActionText(int overwriteAction) {
    static constexpr std::array<std::string_view, 3> kTexts = {"Skip", "Resume", "Overwrite"};
    return TextAt(kTexts, overwriteAction);
}

}  // namespace tarnwick
