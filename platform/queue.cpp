// The message queue and the key messages, the same on every window system:
// each window system's layer hands its key changes to KeyChange, and its
// event poll calls ReleaseHeldKeys.
#include <mutex>

#include "platform/platform_internal.h"

namespace plat {

namespace {

constexpr int kQueueSize = 512;

// A fixed ring, locked because the music player may post from the audio
// thread.
struct MessageQueue {
    std::mutex lock;
    Message ring[kQueueSize];
    int head = 0;
    int count = 0;
};
MessageQueue q;

struct KeyHold {
    uint32_t downMs;
    uint8_t releasePending;
};
KeyHold holds[256];

// Key-up as the window system reports it: previous state down, transition up.
void PostKeyUp(uint32_t vk) { PostMessage(Message{MSG_KEYUP, vk, (1u << 30) | (1u << 31)}); }

}  // namespace

void KeyChange(uint32_t vk, bool down, bool repeat) {
    if (vk == 0 || vk >= 256) return;
    KeyHold& hold = holds[vk];
    if (down) {
        if (hold.releasePending) {  // a new press: the held-back release comes first
            hold.releasePending = 0;
            PostKeyUp(vk);
        }
        if (!repeat) hold.downMs = RawTimeMs();
        PostMessage(Message{MSG_KEYDOWN, vk, repeat ? (1u << 30) : 0u});
    } else if (RawTimeMs() - hold.downMs < kShortestPressMs) {
        hold.releasePending = 1;
    } else {
        PostKeyUp(vk);
    }
}

bool KeysWaiting() {
    for (const KeyHold& h : holds)
        if (h.releasePending) return true;
    return false;
}

void ReleaseHeldKeys() {
    uint32_t now = RawTimeMs();
    for (uint32_t vk = 0; vk < 256; vk++) {
        KeyHold& h = holds[vk];
        if (h.releasePending && now - h.downMs >= kShortestPressMs) {
            h.releasePending = 0;
            PostKeyUp(vk);
        }
    }
}

bool GetMessage(Message* msg) {
    std::lock_guard<std::mutex> guard(q.lock);
    if (q.count == 0) return false;
    *msg = q.ring[q.head];
    q.head = (q.head + 1) % kQueueSize;
    q.count--;
    return true;
}

bool PeekMessage() {
    std::lock_guard<std::mutex> guard(q.lock);
    return q.count > 0;
}

void PostMessage(const Message& msg) {
    std::lock_guard<std::mutex> guard(q.lock);
    if (q.count == kQueueSize) return;  // a full queue drops input, as a real one would
    q.ring[(q.head + q.count) % kQueueSize] = msg;
    q.count++;
}

void FlushMessages() {
    {
        std::lock_guard<std::mutex> guard(q.lock);
        q.head = q.count = 0;
    }
    ClearScript();
}

}  // namespace plat
