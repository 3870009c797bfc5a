#include "framework/threads/MessageQueue.h"

#include <algorithm>

namespace chatterly {

std::shared_ptr<MessageQueue> MessageQueue::currentShared() {
    thread_local std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();
    return queue;
}

MessageQueue& MessageQueue::current() {
    return *currentShared();
}

void MessageQueue::post(Message message) {
    {
        std::lock_guard lock(mutex_);
        messages_.push_back(std::move(message));
    }
    wake_.signal();
}

bool MessageQueue::empty() const {
    std::lock_guard lock(mutex_);
    return messages_.empty();
}

bool MessageQueue::hasHeld() const {
    std::lock_guard lock(mutex_);
    return std::any_of(messages_.begin(), messages_.end(),
                       [](const Message& m) { return m.held(); });
}

bool MessageQueue::hasUnheld() const {
    std::lock_guard lock(mutex_);
    return std::any_of(messages_.begin(), messages_.end(),
                       [](const Message& m) { return !m.held(); });
}

std::optional<Message> MessageQueue::take() {
    std::lock_guard lock(mutex_);
    if (messages_.empty()) {
        return std::nullopt;
    }
    Message m = std::move(messages_.front());
    messages_.pop_front();
    return m;
}

namespace {

template <typename Match>
std::optional<Message> takeFirst(std::deque<Message>& messages, Match match) {
    auto it = std::find_if(messages.begin(), messages.end(), match);
    if (it == messages.end()) {
        return std::nullopt;
    }
    Message m = std::move(*it);
    messages.erase(it);
    return m;
}

}  // namespace

std::optional<Message> MessageQueue::takeFirstHeld() {
    std::lock_guard lock(mutex_);
    return takeFirst(messages_, [](const Message& m) { return m.held(); });
}

std::optional<Message> MessageQueue::takeFirstUnheld() {
    std::lock_guard lock(mutex_);
    return takeFirst(messages_, [](const Message& m) { return !m.held(); });
}

std::optional<Message> MessageQueue::takeNetwork(const void* source, int event) {
    std::lock_guard lock(mutex_);
    return takeFirst(messages_, [&](const Message& m) {
        return m.kind == Message::Kind::Network && m.source == source && m.event == event;
    });
}

void MessageQueue::discard(const void* source) {
    std::lock_guard lock(mutex_);
    std::erase_if(messages_, [source](const Message& m) {
        return m.kind == Message::Kind::Network && m.source == source;
    });
}

void MessageQueue::pushFront(std::deque<Message> messages) {
    if (messages.empty()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        messages_.insert(messages_.begin(), std::make_move_iterator(messages.begin()),
                         std::make_move_iterator(messages.end()));
    }
    wake_.signal();
}

}  // namespace chatterly
