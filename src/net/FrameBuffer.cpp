#include "net/FrameBuffer.h"

namespace chatterly {

uint8_t* FrameBuffer::prepare(size_t size) {
    if (size > capacity_ || !bytes_) {
        release();
        bytes_ = std::make_unique_for_overwrite<uint8_t[]>(size == 0 ? 1 : size);
        capacity_ = size;
    }
    return bytes_.get();
}

void FrameBuffer::done(size_t size) {
    const bool farLarger = usual_ > 0 && size / kFarLarger > usual_;
    // Each message weighs a quarter: the mean follows a change of habit
    // within a few messages.
    usual_ = usual_ == 0 ? size : usual_ - usual_ / 4 + size / 4;
    if (capacity_ > kAlwaysKept && (farLarger || capacity_ / kFarLarger > usual_)) {
        release();
    }
}

void FrameBuffer::release() {
    bytes_.reset();
    capacity_ = 0;
}

}  // namespace chatterly
