#pragma once
// libsndfile's virtual I/O over bytes in memory, the one way the WAV room
// reads and writes images: a received image is read through a stream bounded
// by its length (nothing past the bytes that arrived is ever read), and a new
// image is written into a byte vector that grows as libsndfile writes and
// seeks back to finish the header.

#include <sndfile.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace chatterly {

class SoundFileMemory {
  public:
    // Reading length bytes at data; they must outlive the stream.
    SoundFileMemory(const void* data, size_t length);
    // Writing into image (emptied first), which must outlive the stream.
    explicit SoundFileMemory(std::vector<uint8_t>& image);
    SoundFileMemory(const SoundFileMemory&) = delete;
    SoundFileMemory& operator=(const SoundFileMemory&) = delete;

    // Opens the stream with libsndfile (SFM_READ for bytes, SFM_WRITE for an
    // image); nullptr when libsndfile refuses it. The caller closes it with
    // sf_close before this object goes.
    SNDFILE* open(SF_INFO& info);

  private:
    static sf_count_t length(void* self);
    static sf_count_t seek(sf_count_t offset, int whence, void* self);
    static sf_count_t read(void* out, sf_count_t count, void* self);
    static sf_count_t write(const void* in, sf_count_t count, void* self);
    static sf_count_t tell(void* self);

    const uint8_t* data_;
    sf_count_t length_;
    std::vector<uint8_t>* image_ = nullptr;  // written into when set
    sf_count_t position_ = 0;
};

}  // namespace chatterly
