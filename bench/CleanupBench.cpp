// The voice's clean-up and trim, in process, over speech made by espeak-ng
// (two voices, resampled to 22 050 Hz mono by sox) mixed with white noise and
// with a 120 Hz hum with harmonics at 10 dB SNR, with a second of noise
// before and after. Each mix goes through VoiceCleanup in 10 ms pieces, as
// the capture thread feeds it, and VoiceCleanup::kept, as a save trims it,
// for off, gentle and strong. A far speaker is the same mix 20 dB down.
// Figures per level: the noise left in the pauses and its drop against off,
// the speech level of the near and the far speaker, how much of the speech is
// kept (envelope correlation with the clean speech; the first word's onset),
// the silence left at both ends, the clean-up's CPU per second of sound, and
// what the trim adds to a release (RecordingDevice::save of 10 s). Needs
// espeak-ng and sox; a sound server only for the release figure.

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "BenchReport.h"
#include "audio/RecordingDevice.h"
#include "audio/VoiceCleanup.h"

using namespace chatterly;
using Level = VoiceCleanup::Level;

namespace {

constexpr int kRate = 22050;
constexpr size_t kWindow = kRate / 100;  // 10 ms envelope windows
constexpr size_t kChunk = kRate / 100;   // what the capture thread feeds at a time

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double rms(const std::vector<double>& s, size_t from, size_t to) {
    double sum = 0;
    to = std::min(to, s.size());
    for (size_t i = from; i < to; ++i) {
        sum += s[i] * s[i];
    }
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

double dbfs(double amplitude) {
    return amplitude > 0 ? 20.0 * std::log10(amplitude / 32768.0) : -120.0;
}

// Speech from espeak-ng in one voice, as 22 050 Hz mono samples.
std::vector<double> speech(const std::string& voice, const std::string& text) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("chatterly-cleanup-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string wav = (dir / "speech.wav").string();
    const std::string raw = (dir / "speech.raw").string();
    const std::string command = "espeak-ng -v " + voice + " -w '" + wav + "' '" + text +
                                "' && sox '" + wav + "' -t raw -r 22050 -c 1 -e signed -b 16 '" +
                                raw + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "cannot make speech with espeak-ng and sox\n");
        std::exit(1);
    }
    std::ifstream in(raw, std::ios::binary);
    std::vector<double> samples;
    int16_t s = 0;
    while (in.read(reinterpret_cast<char*>(&s), sizeof s)) {
        samples.push_back(s);
    }
    std::filesystem::remove_all(dir);
    return samples;
}

// Envelope: RMS of each 10 ms window.
std::vector<double> envelope(const std::vector<double>& s) {
    std::vector<double> e;
    for (size_t i = 0; i + kWindow <= s.size(); i += kWindow) {
        e.push_back(rms(s, i, i + kWindow));
    }
    return e;
}

// The first and last window at most 20 dB under the loudest: the words'
// ends as they stand above a noise 10 dB under the speech.
std::pair<size_t, size_t> activeWindows(const std::vector<double>& e) {
    const double peak = *std::max_element(e.begin(), e.end());
    size_t first = 0;
    while (first < e.size() && e[first] < peak * 0.1) {
        ++first;
    }
    size_t last = e.size() - 1;
    while (last > first && e[last] < peak * 0.1) {
        --last;
    }
    return {first, last};
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
    const size_t n = std::min(a.size(), b.size());
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; ++i) {
        ma += a[i];
        mb += b[i];
    }
    ma /= static_cast<double>(n);
    mb /= static_cast<double>(n);
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < n; ++i) {
        ab += (a[i] - ma) * (b[i] - mb);
        aa += (a[i] - ma) * (a[i] - ma);
        bb += (b[i] - mb) * (b[i] - mb);
    }
    return ab / std::sqrt(aa * bb);
}

struct Mix {
    std::string name;
    std::vector<double> clean;  // the speech alone, placed as in the mix
    std::vector<double> noisy;
    size_t onset = 0;  // the first and last word's ends in the mix, in samples
    size_t offset = 0;
};

Mix mix(const std::string& name, const std::vector<double>& voice, bool hum) {
    Mix m;
    m.name = name;
    const size_t lead = kRate;
    // The speech at -20 dBFS RMS over its active part.
    const auto env = envelope(voice);
    const auto [first, last] = activeWindows(env);
    const double speechRms = rms(voice, first * kWindow, (last + 1) * kWindow);
    const double gain = 32768.0 * std::pow(10.0, -20.0 / 20.0) / speechRms;
    m.clean.assign(lead, 0.0);
    for (double s : voice) {
        m.clean.push_back(s * gain);
    }
    m.clean.resize(m.clean.size() + kRate, 0.0);
    const double noiseRms = 32768.0 * std::pow(10.0, -30.0 / 20.0);  // 10 dB under the speech
    std::mt19937 random(7);
    std::normal_distribution<double> white(0.0, noiseRms);
    m.noisy.resize(m.clean.size());
    for (size_t i = 0; i < m.noisy.size(); ++i) {
        double n = 0;
        if (hum) {
            const double t = static_cast<double>(i) / kRate;
            for (int h = 1; h <= 4; ++h) {
                n += std::sin(2 * std::numbers::pi * 120.0 * h * t) / h;
            }
            n *= noiseRms / 0.9;  // the four harmonics' RMS is about 0.9
        } else {
            n = white(random);
        }
        m.noisy[i] = m.clean[i] + n;
    }
    m.onset = lead + first * kWindow;
    m.offset = lead + (last + 1) * kWindow;
    return m;
}

struct Result {
    double pauseDb = 0;
    double leadPauseDb = 0;
    double speechDb = 0;
    double correlation = 0;
    double onsetErrorMs = 0;
    double leadMs = 0;  // silence kept before the first word
    double tailMs = 0;  // and after the last
    double cpuMsPerSecond = 0;
    bool voiced = false;
};

Result run(const Mix& m, Level level, double gainDb) {
    const double gain = std::pow(10.0, gainDb / 20.0);
    std::vector<int16_t> in(m.noisy.size());
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<int16_t>(std::clamp(std::lround(m.noisy[i] * gain), -32768L, 32767L));
    }
    std::vector<int16_t> out;
    std::optional<VoiceCleanup::Span> kept = VoiceCleanup::Span{0, in.size()};
    const double start = cpuSeconds();
    if (level == Level::Off) {
        out = in;
    } else {
        VoiceCleanup cleanup(level);
        for (size_t i = 0; i < in.size(); i += kChunk) {
            cleanup.process(in.data() + i, std::min(kChunk, in.size() - i), out);
        }
        cleanup.finish(out);
        kept = VoiceCleanup::kept(cleanup.voice(), out.size());
    }
    Result r;
    r.cpuMsPerSecond = (cpuSeconds() - start) * 1000.0 / (static_cast<double>(in.size()) / kRate);
    std::vector<double> o(out.begin(), out.end());
    // The pause after the speech (from 200 ms past its last word): the
    // denoiser has learnt the noise by then, as it has in a message's pauses
    // after its first second. The second before the speech is mostly
    // trimmed; its last half is reported on its own.
    r.pauseDb = dbfs(rms(o, m.offset + kWindow * 20, o.size()));
    r.leadPauseDb = dbfs(rms(o, m.onset - kRate / 2, m.onset - kWindow * 5));
    r.speechDb = dbfs(rms(o, m.onset, m.offset));  // as it is sent
    std::vector<double> clean(m.clean.begin() + static_cast<long>(m.onset),
                              m.clean.begin() + static_cast<long>(m.offset));
    std::vector<double> got(o.begin() + static_cast<long>(m.onset),
                            o.begin() + static_cast<long>(m.offset));
    r.correlation = correlation(envelope(clean), envelope(got));
    r.voiced = kept.has_value();
    if (kept) {
        // The onset in what is sent: the first window within 20 dB of its
        // loudest and 10 dB above its first 50 ms (the silence kept, or the
        // word itself when the trim cut into it), placed back where the trim
        // cut it from.
        std::vector<double> sent(o.begin() + static_cast<long>(kept->begin),
                                 o.begin() + static_cast<long>(kept->end));
        const auto e = envelope(sent);
        const double start = rms(sent, 0, kRate / 20);
        const double peak = *std::max_element(e.begin(), e.end());
        size_t first = 0;
        while (first < e.size() && (e[first] < peak * 0.1 || e[first] < start * 3.16)) {
            ++first;
        }
        const double onset = static_cast<double>(kept->begin + first * kWindow);
        r.onsetErrorMs = std::abs(onset - static_cast<double>(m.onset)) * 1000.0 / kRate;
        r.leadMs =
            (static_cast<double>(m.onset) - static_cast<double>(kept->begin)) * 1000.0 / kRate;
        r.tailMs =
            (static_cast<double>(kept->end) - static_cast<double>(m.offset)) * 1000.0 / kRate;
    }
    return r;
}

// What a release's save costs with the trim against without, for 10 s.
double saveMs(Level level, const std::vector<int16_t>& samples) {
    RecordingDevice device;
    if (device.open() != RecordingDevice::Status::Ok) {
        return -1;
    }
    device.setCleanUp(level);
    device.appendSamples(samples.data(), samples.size());
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        std::vector<uint8_t> image;
        const auto t0 = std::chrono::steady_clock::now();
        if (device.save(image) != RecordingDevice::Status::Ok || image.size() < 1000) {
            std::fprintf(stderr, "the save of 10 s failed\n");
            return -1;
        }
        best = std::min(
            best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                      .count());
    }
    return best;
}

const char* name(Level level) {
    return level == Level::Off ? "off" : level == Level::Gentle ? "gentle" : "strong";
}

}  // namespace

int main() {
    const char* text =
        "Hello, this is the station by the door. The parcel came this morning, and I put it on "
        "the shelf. Call me back when you have a moment.";
    std::vector<Mix> mixes;
    for (const char* voice : {"en", "en-us+f3"}) {
        const auto s = speech(voice, text);
        mixes.push_back(mix(std::string(voice) + " in white noise", s, false));
        mixes.push_back(mix(std::string(voice) + " in hum", s, true));
    }
    double offPauseDb = -120;
    for (const auto& m : mixes) {
        offPauseDb = std::max(offPauseDb, run(m, Level::Off, 0).pauseDb);
    }
    for (Level level : {Level::Off, Level::Gentle, Level::Strong}) {
        double pause = -120, nearFarDb = 0, corr = 1, onset = 0, lead = 0, tail = 0, cpu = 0;
        for (const auto& m : mixes) {
            const Result near = run(m, level, 0);
            const Result far = run(m, level, -20);
            std::printf(
                "%-7s %-23s pause %6.1f (lead %6.1f) dBFS  speech near %6.1f far %6.1f dBFS  corr "
                "%.3f  onset err %4.0f ms  lead %4.0f tail %4.0f ms  cpu %.2f ms/s%s\n",
                name(level), m.name.c_str(), near.pauseDb, near.leadPauseDb, near.speechDb,
                far.speechDb, near.correlation, near.onsetErrorMs, near.leadMs, near.tailMs,
                near.cpuMsPerSecond, near.voiced && far.voiced ? "" : "  NO VOICE");
            pause = std::max(pause, near.pauseDb);
            nearFarDb = std::max(nearFarDb, std::abs(near.speechDb - far.speechDb));
            corr = std::min({corr, near.correlation, far.correlation});
            onset = std::max({onset, near.onsetErrorMs, far.onsetErrorMs});
            lead = std::max({lead, near.leadMs, far.leadMs});
            tail = std::max({tail, near.tailMs, far.tailMs});
            cpu = std::max(cpu, near.cpuMsPerSecond);
        }
        const std::string n = std::string("cleanup ") + name(level) + " ";
        using bench::Figure;
        using bench::Goal;
        bench::report(Figure{n + "pause noise", pause, "dBFS", {}, Goal::AtMost, 0});
        if (level != Level::Off) {
            bench::report(Figure{n + "pause noise drop",
                                 offPauseDb - pause,
                                 "dB",
                                 {},
                                 Goal::AtLeast,
                                 level == Level::Gentle ? 15.0 : 15.0});
            bench::report(
                Figure{n + "near/far speech difference", nearFarDb, "dB", {}, Goal::AtMost, 3.0});
            bench::report(Figure{n + "envelope correlation", corr, "", {}, Goal::AtLeast, 0.6});
            bench::report(Figure{n + "onset error", onset, "ms", {}, Goal::AtMost, 30});
            bench::report(Figure{n + "silence before", lead, "ms", {}, Goal::AtMost, 200});
            bench::report(Figure{n + "silence after", tail, "ms", {}, Goal::AtMost, 200});
            bench::report(Figure{n + "CPU per second of sound", cpu, "ms", {}, Goal::AtMost, 20});
        }
    }
    std::vector<int16_t> ten(static_cast<size_t>(10 * kRate));
    for (size_t i = 0; i < ten.size(); ++i) {
        ten[i] = static_cast<int16_t>(std::lround(mixes[0].noisy[i % mixes[0].noisy.size()]));
    }
    const double off = saveMs(Level::Off, ten);
    const double gentle = saveMs(Level::Gentle, ten);
    if (off >= 0 && gentle >= 0) {
        std::printf("save of 10 s: off %.2f ms, gentle (trimmed) %.2f ms\n", off, gentle);
        bench::report(bench::Figure{"cleanup release adds", gentle - off, "ms", off,
                                    bench::Goal::AtMost, 2.0});
    } else {
        std::printf("no sound server: the release figure is left out\n");
    }
    return 0;
}
