#pragma once
// Speech in noise, and what a recording kept of it: the signals and measures
// of the clean-up benchmark. Speech is made by espeak-ng (resampled to
// 22 050 Hz mono by sox), one sentence at a time with a pause between them,
// placed at -20 dBFS over its words, and mixed with white noise or a 120 Hz
// hum with harmonics 10 dB under it, with a second of noise before and
// after. A recording is placed against its mix by its envelope, then to the
// sample by its waveform, and measured in the mix's own samples.

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace chatterly::bench {

constexpr int kRate = 22050;
constexpr size_t kWindow = kRate / 100;  // 10 ms envelope windows

inline double rms(const std::vector<double>& s, size_t from, size_t to) {
    double sum = 0;
    to = std::min(to, s.size());
    for (size_t i = from; i < to; ++i) {
        sum += s[i] * s[i];
    }
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

inline double dbfs(double amplitude) {
    return amplitude > 0 ? 20.0 * std::log10(amplitude / 32768.0) : -120.0;
}

// Envelope: RMS of each 10 ms window.
inline std::vector<double> envelope(const std::vector<double>& s) {
    std::vector<double> e;
    for (size_t i = 0; i + kWindow <= s.size(); i += kWindow) {
        e.push_back(rms(s, i, i + kWindow));
    }
    return e;
}

inline double correlation(const std::vector<double>& a, const std::vector<double>& b) {
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
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

// The window where the first word begins: the first window within 20 dB of
// the loudest, then back along the rise while the power above the noise
// stays within 20 dB of that word's own loudest. Its own loudest, so that a
// gain still settling at the start does not move it. Over the envelope
// reversed, the window where the last word ends.
inline size_t onsetWindow(const std::vector<double>& e, double noisePower) {
    std::vector<double> p(e.size());
    for (size_t i = 0; i < e.size(); ++i) {
        p[i] = std::max(0.0, e[i] * e[i] - noisePower);
    }
    const double peak = *std::max_element(p.begin(), p.end());
    size_t first = 0;
    while (first < p.size() && p[first] < peak * 0.01) {
        ++first;
    }
    const size_t end = std::min(p.size(), first + 30);
    const double word =
        *std::max_element(p.begin() + static_cast<long>(first), p.begin() + static_cast<long>(end));
    while (first > 0 && p[first - 1] >= word * 0.01) {
        --first;
    }
    return first;
}

// Speech from espeak-ng in one voice, as 22 050 Hz mono samples.
inline std::vector<double> speech(const std::string& voice, const std::string& text) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("chatterly-speech-" + std::to_string(::getpid()));
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

struct Mix {
    std::string name;
    std::vector<double> clean;  // the speech alone, placed as in the mix
    std::vector<double> noisy;
    std::vector<bool> pause;  // per window: well inside a pause between sentences
    std::vector<bool> words;  // per window: speech
    size_t onset = 0;         // the first word's start and the last's end, in samples
    size_t offset = 0;
};

// sentences: each one's speech; spoken in turn with 700 ms between them.
inline Mix mix(const std::string& name, const std::vector<std::vector<double>>& sentences,
               bool hum) {
    std::vector<double> voice;
    for (const auto& s : sentences) {
        if (!voice.empty()) {
            voice.resize(voice.size() + kRate * 7 / 10, 0.0);
        }
        voice.insert(voice.end(), s.begin(), s.end());
    }
    Mix m;
    m.name = name;
    const auto env = envelope(voice);
    const double peak = *std::max_element(env.begin(), env.end());
    std::vector<double> spoken;
    for (size_t i = 0; i < env.size(); ++i) {
        if (env[i] >= peak * 0.03) {
            spoken.push_back(env[i] * env[i]);
        }
    }
    double sum = 0;
    for (double p : spoken) {
        sum += p;
    }
    const double gain = 32768.0 * std::pow(10.0, -20.0 / 20.0) /
                        std::sqrt(sum / static_cast<double>(spoken.size()));
    m.clean.assign(kRate, 0.0);
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
    const auto e = envelope(m.clean);
    const double top = *std::max_element(e.begin(), e.end());
    m.words.resize(e.size());
    for (size_t i = 0; i < e.size(); ++i) {
        m.words[i] = e[i] >= top * 0.03;
    }
    const size_t first = onsetWindow(e, 0);
    const size_t last = e.size() - 1 - onsetWindow(std::vector<double>(e.rbegin(), e.rend()), 0);
    m.onset = first * kWindow;
    m.offset = (last + 1) * kWindow;
    // A pause: silent windows with 100 ms of silence on either side, between
    // the first word and the last.
    m.pause.resize(e.size());
    for (size_t i = first + 10; i + 10 <= last; ++i) {
        m.pause[i] = std::none_of(e.begin() + static_cast<long>(i - 10),
                                  e.begin() + static_cast<long>(i + 11),
                                  [top](double v) { return v > top * 0.001; });
    }
    return m;
}

// Where the mix's first sample lies in a recording of it (negative when the
// recording begins after it): by the envelopes, then to the sample by the
// waveform against the clean speech within 20 ms of that.
inline long placeOf(const Mix& m, const std::vector<double>& recording) {
    const auto a = envelope(recording);
    const auto b = envelope(m.clean);
    const double ma = rms(a, 0, a.size()), mb = rms(b, 0, b.size());
    long best = 0;
    double bestScore = -1e300;
    for (long lag = -static_cast<long>(b.size()); lag < static_cast<long>(a.size()); ++lag) {
        double score = 0;
        for (long i = std::max(0L, -lag); i < static_cast<long>(b.size()); ++i) {
            const long j = i + lag;
            if (j >= static_cast<long>(a.size())) {
                break;
            }
            score += (a[j] - ma) * (b[i] - mb);
        }
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    const long coarse = best * static_cast<long>(kWindow);
    bestScore = -1e300;
    for (long lag = coarse - 2 * static_cast<long>(kWindow);
         lag <= coarse + 2 * static_cast<long>(kWindow); ++lag) {
        double score = 0;
        for (size_t i = m.onset; i < m.offset; ++i) {
            const long j = static_cast<long>(i) + lag;
            if (j >= 0 && j < static_cast<long>(recording.size())) {
                score += recording[static_cast<size_t>(j)] * m.clean[i];
            }
        }
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    return best;
}

// What a recording of a mix kept, in the mix's terms.
struct Kept {
    double pauseDb = 0;   // noise in the pauses between sentences
    double speechDb = 0;  // over the words
    double correlation = 0;
    double onsetErrorMs = 0;
    double leadMs = 0;  // silence kept before the first word
    double tailMs = 0;  // and after the last
};

inline Kept measure(const Mix& m, const std::vector<double>& recording) {
    const long place = placeOf(m, recording);
    // The recording in the mix's samples; what it does not hold is silence.
    std::vector<double> r(m.clean.size(), 0.0);
    for (size_t i = 0; i < r.size(); ++i) {
        const long j = static_cast<long>(i) + place;
        if (j >= 0 && j < static_cast<long>(recording.size())) {
            r[i] = recording[static_cast<size_t>(j)];
        }
    }
    const auto e = envelope(r);
    const auto clean = envelope(m.clean);
    double pause = 0, words = 0;
    size_t pauses = 0, spoken = 0;
    for (size_t i = 0; i < e.size(); ++i) {
        if (m.pause[i]) {
            pause += e[i] * e[i];
            ++pauses;
        }
        if (m.words[i]) {
            words += e[i] * e[i];
            ++spoken;
        }
    }
    Kept k;
    k.pauseDb = dbfs(std::sqrt(pause / static_cast<double>(std::max<size_t>(pauses, 1))));
    k.speechDb = dbfs(std::sqrt(words / static_cast<double>(std::max<size_t>(spoken, 1))));
    const long from = static_cast<long>(m.onset / kWindow),
               to = static_cast<long>(m.offset / kWindow);
    k.correlation = correlation(std::vector<double>(clean.begin() + from, clean.begin() + to),
                                std::vector<double>(e.begin() + from, e.begin() + to));
    const double noise = pause / static_cast<double>(std::max<size_t>(pauses, 1));
    const double onset = static_cast<double>(onsetWindow(e, noise) * kWindow);
    k.onsetErrorMs = (onset - static_cast<double>(m.onset)) * 1000.0 / kRate;
    k.leadMs = (static_cast<double>(m.onset) + static_cast<double>(place)) * 1000.0 / kRate;
    k.tailMs = (static_cast<double>(recording.size()) - static_cast<double>(place) -
                static_cast<double>(m.offset)) *
               1000.0 / kRate;
    return k;
}

}  // namespace chatterly::bench
