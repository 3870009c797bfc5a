#pragma once
// A ByteStream double: records every send, delivers scripted input whole,
// split in two, or one byte per receive, and can fail after N operations.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "framework/streams/ByteStream.h"
#include "framework/streams/FileError.h"

namespace chatterly::test {

enum class Delivery { Whole, Split, OneByte };

class RecordingStream : public ByteStream {
  public:
    explicit RecordingStream(std::vector<uint8_t> input = {}, Delivery delivery = Delivery::Whole)
        : input_(std::move(input)), delivery_(delivery) {}

    void write(const void* data, size_t n) override {
        countOperation();
        const auto* b = static_cast<const uint8_t*>(data);
        sends.emplace_back(b, b + n);
    }

    size_t read(void* data, size_t n) override {
        countOperation();
        size_t limit = input_.size() - pos_;
        if (delivery_ == Delivery::OneByte) {
            limit = std::min<size_t>(limit, 1);
        } else if (delivery_ == Delivery::Split) {
            const size_t half = input_.size() / 2;
            if (pos_ < half) {
                limit = half - pos_;
            }
        }
        const size_t r = std::min(n, limit);
        if (r > 0) {
            std::memcpy(data, input_.data() + pos_, r);
        }
        pos_ += r;
        receives.push_back(r);
        return r;
    }

    std::string name() const override { return "recorded.stream"; }

    // The operation after the first n fails with EIO.
    void failAfter(int n) { failAfter_ = n; }

    std::vector<uint8_t> sentBytes() const {
        std::vector<uint8_t> all;
        for (const auto& s : sends) {
            all.insert(all.end(), s.begin(), s.end());
        }
        return all;
    }
    std::vector<size_t> sendSizes() const {
        std::vector<size_t> sizes;
        for (const auto& s : sends) {
            sizes.push_back(s.size());
        }
        return sizes;
    }

    std::vector<std::vector<uint8_t>> sends;
    std::vector<size_t> receives;

  private:
    void countOperation() {
        if (failAfter_ >= 0 && operations_++ >= failAfter_) {
            throw FileError(name(), EIO);
        }
    }

    std::vector<uint8_t> input_;
    Delivery delivery_;
    size_t pos_ = 0;
    int failAfter_ = -1;
    int operations_ = 0;
};

}  // namespace chatterly::test
