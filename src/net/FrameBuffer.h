#pragma once
// The receive buffer of one call's frames, kept from one message to the next
// so that a call of many messages does not have the kernel fault in and zero
// every page of a fresh buffer for each. It is given back when the call ends
// and after a message far larger than the call's usual, so a call holds at
// most about one message. A larger message replaces it (the old one goes
// first, so the two are never held together). Its bytes are not touched when
// it is made: a Length that is announced but never sent commits no memory
// beyond what arrived.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace chatterly {

class FrameBuffer {
  public:
    // Room for size bytes (at least); what it held before is not kept.
    // Throws std::bad_alloc, leaving the buffer empty.
    uint8_t* prepare(size_t size);
    // The message of size bytes in it has been played.
    void done(size_t size);
    // Gives the memory back.
    void release();

    uint8_t* data() { return bytes_.get(); }
    size_t capacity() const { return capacity_; }

    // A buffer this small is always kept; beyond it, a buffer more than this
    // many times the usual message is given back.
    static constexpr size_t kAlwaysKept = 1 << 20;
    static constexpr size_t kFarLarger = 4;

  private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t capacity_ = 0;
    size_t usual_ = 0;  // a running mean of the call's message sizes
};

}  // namespace chatterly
