#include "audio/Playback.h"

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "audio/PulseOutput.h"
#include "framework/threads/WindowRequests.h"

namespace chatterly {
namespace {

// A read-only libsndfile stream over the received bytes.
struct MemoryImage {
    const unsigned char* data;
    sf_count_t length;
    sf_count_t position = 0;
};

sf_count_t imageLength(void* user) {
    return static_cast<MemoryImage*>(user)->length;
}

sf_count_t imageSeek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<MemoryImage*>(user);
    sf_count_t to = offset;
    if (whence == SEEK_CUR) {
        to += m->position;
    } else if (whence == SEEK_END) {
        to += m->length;
    }
    m->position = std::clamp<sf_count_t>(to, 0, m->length);
    return m->position;
}

sf_count_t imageRead(void* out, sf_count_t count, void* user) {
    auto* m = static_cast<MemoryImage*>(user);
    const sf_count_t n = std::clamp<sf_count_t>(m->length - m->position, 0, count);
    std::memcpy(out, m->data + m->position, static_cast<size_t>(n));
    m->position += n;
    return n;
}

sf_count_t imageWrite(const void*, sf_count_t, void*) {
    return 0;
}
sf_count_t imageTell(void* user) {
    return static_cast<MemoryImage*>(user)->position;
}

std::atomic<int64_t> messageStart{0};  // steady-clock ticks; 0: none yet

// Decodes and plays an opened sound to the end; started (if given) learns
// when the first samples went to the server. False when nothing could be
// decoded or the server cannot be reached.
bool playOpened(SNDFILE* sound, const SF_INFO& info, const char* streamName,
                std::atomic<int64_t>* started = nullptr) {
    if (info.channels <= 0 || info.channels > 32 || info.samplerate <= 0) {
        return false;
    }
    PulseOutput output;
    if (!output.open(static_cast<uint32_t>(info.samplerate), static_cast<uint8_t>(info.channels),
                     streamName)) {
        return false;
    }
    constexpr sf_count_t kFrames = 2048;
    std::vector<int16_t> samples(static_cast<size_t>(kFrames * info.channels));
    for (;;) {
        const sf_count_t got = sf_readf_short(sound, samples.data(), kFrames);
        if (got <= 0) {
            break;
        }
        if (started) {
            started->store(std::chrono::steady_clock::now().time_since_epoch().count());
            started = nullptr;
        }
        if (!output.write(samples.data(), static_cast<size_t>(got * info.channels))) {
            return false;
        }
    }
    return output.drain();
}

// Runs play() to its end. On the GUI thread it runs on a helper thread while
// the GUI thread serves window requests (and nothing else) meanwhile.
bool playSynchronously(const std::function<bool()>& play) {
    if (!WindowRequests::isGuiThread()) {
        return play();
    }
    std::atomic<bool> done{false};
    bool played = false;
    std::thread player([&] {
        played = play();
        done = true;
    });
    while (!WindowRequests::serveUntil([&] { return done.load(); }, std::chrono::hours(1))) {
    }
    player.join();
    return played;
}

}  // namespace

bool Playback::PlayVoiceMessage(const void* image, size_t length) {
    if (!image || length == 0) {
        return false;
    }
    return playSynchronously([&] {
        MemoryImage memory{static_cast<const unsigned char*>(image),
                           static_cast<sf_count_t>(length)};
        SF_VIRTUAL_IO io{imageLength, imageSeek, imageRead, imageWrite, imageTell};
        SF_INFO info{};
        SNDFILE* sound = sf_open_virtual(&io, SFM_READ, &info, &memory);
        if (!sound) {
            return false;
        }
        const bool played = playOpened(sound, info, "voice message", &messageStart);
        sf_close(sound);
        return played;
    });
}

bool Playback::playFile(const std::string& fileName) {
    return playSynchronously([&] {
        SF_INFO info{};
        SNDFILE* sound = sf_open(fileName.c_str(), SFM_READ, &info);
        if (!sound) {
            return false;
        }
        const bool played = playOpened(sound, info, fileName.c_str());
        sf_close(sound);
        return played;
    });
}

std::optional<std::chrono::steady_clock::time_point> Playback::lastMessageStart() {
    const int64_t ticks = messageStart.load();
    if (ticks == 0) {
        return std::nullopt;
    }
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(ticks));
}

void Playback::PlayCallWaitingCue() {
    playFile("CallWaiting.wav");
}

}  // namespace chatterly
