#pragma once
// The decoding of a voice message image, with libsndfile (PCM of any width,
// 32- and 64-bit float, ADPCM, u-law, A-law, GSM and more), through a stream
// bounded by the received length. Only a RIFF WAVE image reaches the decoder:
// libsndfile would also open Ogg, FLAC, AIFF and others, and no station sends
// them. Float sound is scaled to 16 bits (full scale 1.0), clipped; every
// other encoding comes out as libsndfile gives it in 16 bits. An image whose
// header claims more playing time than its bytes can carry is refused: more
// than the image's bytes at 1000 bytes a second, plus a second (GSM 6.10, the
// sparest encoding a station plays, takes 1625 bytes a second), so that a few
// bytes cannot hold a thread for hours.

#include <cstddef>
#include <functional>
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
    // A sound file of the station's own (the call-waiting cue), to its end.
    static bool decodeFile(const std::string& fileName, SoundSink& sink);

    // Whether the image begins as a RIFF WAVE file does.
    static bool isRiffWave(const void* image, size_t length);
};

}  // namespace chatterly
