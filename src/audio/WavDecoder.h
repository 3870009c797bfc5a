#pragma once
// The decoding of a voice message image, with libsndfile (PCM of any width,
// 32- and 64-bit float, ADPCM, u-law, A-law, GSM and more), through a stream
// bounded by the received length. Only a RIFF WAVE image reaches the decoder:
// libsndfile would also open Ogg, FLAC, AIFF and others, and no station sends
// them. Float sound is scaled to 16 bits (full scale 1.0), clipped; every
// other encoding comes out as libsndfile gives it in 16 bits.
//
// An image's playing time is bounded by its bytes, at the sparsest encoding
// a recorder makes: GSM 6.10 at 8 kHz, 1625 bytes a second, plus one GSM
// block of 65 bytes (libsndfile counts the pad byte after an odd number of
// blocks as one more block). A 10 KB image may thus claim about 6.3 s. One
// that claims more is refused before a sample is decoded, and no more than
// its bound ever reaches the sink, so a few bytes cannot hold a thread for
// hours.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "audio/SoundSink.h"

namespace chatterly {

class WavDecoder {
  public:
    // Decodes image into sink, to its end or until stopped() holds between
    // blocks (the sink then drops what it holds). False when the image is
    // refused, cannot be decoded or decodes to no frame at all, or the sink
    // fails. The sink is opened at the first decoded frames.
    static bool decode(const void* image, size_t length, SoundSink& sink,
                       const std::function<bool()>& stopped = {});
    // How long the image plays, in milliseconds, as its header says: none
    // when decode() would refuse it at once (no RIFF WAVE image, a sound
    // libsndfile cannot open, no frame, or more playing time than its bytes
    // can carry). Nothing is decoded.
    static std::optional<int64_t> playingMs(const void* image, size_t length);
    // A sound file of the station's own (the call-waiting cue), to its end.
    // It is played only when it is a regular file (see FileStream): false
    // when it is missing, is anything else, or cannot be decoded.
    static bool decodeFile(const std::string& fileName, SoundSink& sink);

    // The bound on an image's playing time: its bytes plus kSlackBytes, at
    // kLeastBytesPerSecond.
    static constexpr double kLeastBytesPerSecond = 1625.0;  // GSM 6.10 at 8 kHz
    static constexpr double kSlackBytes = 65.0;             // one GSM 6.10 block

    // Whether the image begins as a RIFF WAVE file does.
    static bool isRiffWave(const void* image, size_t length);
};

}  // namespace chatterly
