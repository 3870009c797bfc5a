#include "audio/SoundFileMemory.h"

#include <algorithm>
#include <cstring>

namespace chatterly {

SoundFileMemory::SoundFileMemory(const void* data, size_t length)
    : data_(static_cast<const uint8_t*>(data)), length_(static_cast<sf_count_t>(length)) {}

SoundFileMemory::SoundFileMemory(std::vector<uint8_t>& image)
    : data_(nullptr), length_(0), image_(&image) {
    image.clear();
}

SNDFILE* SoundFileMemory::open(SF_INFO& info) {
    SF_VIRTUAL_IO io{length, seek, read, write, tell};
    return sf_open_virtual(&io, image_ ? SFM_WRITE : SFM_READ, &info, this);
}

sf_count_t SoundFileMemory::length(void* self) {
    const auto* m = static_cast<SoundFileMemory*>(self);
    return m->image_ ? static_cast<sf_count_t>(m->image_->size()) : m->length_;
}

sf_count_t SoundFileMemory::seek(sf_count_t offset, int whence, void* self) {
    auto* m = static_cast<SoundFileMemory*>(self);
    const sf_count_t base = whence == SEEK_CUR   ? m->position_
                            : whence == SEEK_END ? length(self)
                                                 : 0;
    // A read stream stays within its bytes; a written image may be sought
    // past its end, to be filled by the next write.
    const sf_count_t end = m->image_ ? INT64_MAX : m->length_;
    m->position_ = std::clamp<sf_count_t>(base + offset, 0, end);
    return m->position_;
}

sf_count_t SoundFileMemory::read(void* out, sf_count_t count, void* self) {
    auto* m = static_cast<SoundFileMemory*>(self);
    const uint8_t* bytes = m->image_ ? m->image_->data() : m->data_;
    const sf_count_t n = std::clamp<sf_count_t>(length(self) - m->position_, 0, count);
    if (n > 0) {
        std::memcpy(out, bytes + m->position_, static_cast<size_t>(n));
    }
    m->position_ += n;
    return n;
}

sf_count_t SoundFileMemory::write(const void* in, sf_count_t count, void* self) {
    auto* m = static_cast<SoundFileMemory*>(self);
    if (!m->image_ || count <= 0) {
        return 0;
    }
    const auto end = static_cast<size_t>(m->position_ + count);
    if (end > m->image_->size()) {
        m->image_->resize(end);
    }
    std::memcpy(m->image_->data() + m->position_, in, static_cast<size_t>(count));
    m->position_ += count;
    return count;
}

sf_count_t SoundFileMemory::tell(void* self) {
    return static_cast<SoundFileMemory*>(self)->position_;
}

}  // namespace chatterly
