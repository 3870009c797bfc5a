#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <thread>

#include "framework/sockets/CSocket.h"
#include "framework/sockets/CSocketFile.h"
#include "framework/streams/ArchiveError.h"
#include "framework/streams/FileError.h"
#include "net/VoiceMessageFrame.h"
#include "support/PlainSocket.h"
#include "support/RecordingStream.h"
#include "support/TestSupport.h"

// While armed, records the largest allocation and refuses any of 64 MiB or
// more, so a test can see what the frame reader tries to allocate.
namespace {
std::atomic<bool> g_armed{false};
std::atomic<size_t> g_largest{0};
}  // namespace

void* operator new(size_t n) {
    if (g_armed.load()) {
        size_t prev = g_largest.load();
        while (n > prev && !g_largest.compare_exchange_weak(prev, n)) {
        }
        if (n >= (size_t{64} << 20)) {
            throw std::bad_alloc();
        }
    }
    if (void* p = std::malloc(n ? n : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](size_t n) {
    return operator new(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

namespace chatterly {
namespace {

// A received frame as a plain byte vector, for comparing, read into the
// given buffer (a call's, kept between frames) or a fresh one; nullopt when
// the stream ends before the frame is whole.
std::optional<std::vector<uint8_t>> readFrame(CArchive& ar, FrameBuffer* kept = nullptr) {
    FrameBuffer fresh;
    FrameBuffer& buffer = kept ? *kept : fresh;
    try {
        const auto frame = VoiceMessageFrame::read(ar, buffer);
        std::vector<uint8_t> bytes(frame.begin(), frame.end());
        buffer.done(bytes.size());
        return bytes;
    } catch (const ArchiveError& e) {
        EXPECT_EQ(e.cause(), ArchiveError::Cause::EndOfFile);
        return std::nullopt;
    }
}

using test::Delivery;
using test::pattern;
using test::RecordingStream;

using test::frameBytes;

TEST(VoiceFrameWrite, SmallFrameIsOneSend) {
    RecordingStream stream;
    CArchive ar(stream, CArchive::Mode::Store);
    const auto data = pattern(1000);
    VoiceMessageFrame::write(ar, data.data(), 1000);
    ASSERT_EQ(stream.sendSizes(), std::vector<size_t>{1008});
    const std::vector<uint8_t> header{0, 0, 0, 0, 0xE8, 0x03, 0, 0};
    EXPECT_TRUE(std::equal(header.begin(), header.end(), stream.sends[0].begin()));
    EXPECT_EQ(stream.sentBytes(), frameBytes(data));
}

TEST(VoiceFrameWrite, LargeFrameSendsHeaderBlockThenBulkThenRemainder) {
    RecordingStream stream;
    CArchive ar(stream, CArchive::Mode::Store);
    const auto data = pattern(4088 + 2 * 4096 + 300);
    VoiceMessageFrame::write(ar, data.data(), static_cast<uint32_t>(data.size()));
    ASSERT_EQ(stream.sendSizes(), (std::vector<size_t>{4096, 8192, 300}));
    EXPECT_EQ(stream.sentBytes(), frameBytes(data));
    EXPECT_EQ(ar.Buffered(), 0u);
}

TEST(VoiceFrameRead, FramesUnderEveryDelivery) {
    const auto big = pattern(3 * 4096 + 77, 5);
    const auto small = pattern(1000, 9);
    std::vector<uint8_t> input = frameBytes(small);
    for (const auto& f :
         {frameBytes(std::vector<uint8_t>{}), frameBytes(big, 0xFFFFFFFF), frameBytes(small, 7)}) {
        input.insert(input.end(), f.begin(), f.end());
    }
    FrameBuffer kept;  // one buffer for a whole call, or one per frame
    for (FrameBuffer* buffer : {static_cast<FrameBuffer*>(nullptr), &kept}) {
        for (Delivery d : {Delivery::Whole, Delivery::Split, Delivery::OneByte}) {
            RecordingStream stream(input, d);
            CArchive ar(stream, CArchive::Mode::Load);
            EXPECT_EQ(readFrame(ar, buffer), small);
            EXPECT_EQ(readFrame(ar, buffer), std::vector<uint8_t>{});
            EXPECT_EQ(readFrame(ar, buffer), big);
            EXPECT_EQ(readFrame(ar, buffer), small);
            EXPECT_EQ(readFrame(ar, buffer), std::nullopt);
        }
    }
}

// A call's buffer grows to a larger message, is kept for smaller ones, and
// is given back after a message far larger than the call's usual or once
// the usual has shrunk far below it; small buffers are always kept.
TEST(FrameBuffer, KeepsItsSizeWhileMessagesStayUsual) {
    constexpr size_t M = size_t{1} << 20;
    struct Step {
        size_t message;
        size_t capacityAfter;
    };
    const std::vector<std::vector<Step>> calls = {
        {{100, 100}, {5000, 5000}, {10, 5000}, {3 * M, 0}},
        {{2 * M, 2 * M}, {2 * M, 2 * M}, {16 * M, 0}, {2 * M, 2 * M}},
        {{8 * M, 8 * M},
         {M, 8 * M},
         {M, 8 * M},
         {M, 8 * M},
         {M, 8 * M},
         {M, 8 * M},
         {M, 8 * M},
         {M, 0},
         {M, M}},
    };
    for (size_t c = 0; c < calls.size(); ++c) {
        FrameBuffer buffer;
        for (size_t i = 0; i < calls[c].size(); ++i) {
            const Step step = calls[c][i];
            ASSERT_NE(buffer.prepare(step.message), nullptr);
            EXPECT_GE(buffer.capacity(), step.message);
            buffer.done(step.message);
            EXPECT_EQ(buffer.capacity(), step.capacityAfter) << "call " << c << " step " << i;
        }
    }
}

TEST(VoiceFrameRead, TwoFramesInOneReceive) {
    auto input = frameBytes(pattern(10));
    const auto second = frameBytes(pattern(20, 3));
    input.insert(input.end(), second.begin(), second.end());
    RecordingStream stream(input, Delivery::Whole);
    CArchive ar(stream, CArchive::Mode::Load);
    EXPECT_EQ(readFrame(ar), pattern(10));
    EXPECT_EQ(stream.receives.size(), 1u);
    EXPECT_EQ(readFrame(ar), pattern(20, 3));
    EXPECT_EQ(stream.receives.size(), 1u);
}

TEST(VoiceFrameRead, StreamEndingInsideAFrameGivesNothing) {
    const auto whole = frameBytes(pattern(5000));
    for (size_t cut : {size_t{0}, size_t{3}, size_t{8}, size_t{4100}, whole.size() - 1}) {
        for (Delivery d : {Delivery::Whole, Delivery::Split, Delivery::OneByte}) {
            RecordingStream stream({whole.begin(), whole.begin() + cut}, d);
            CArchive ar(stream, CArchive::Mode::Load);
            EXPECT_EQ(readFrame(ar), std::nullopt) << "cut at " << cut;
        }
    }
}

TEST(VoiceFrameRead, LengthAboveBoundThrowsBeforeAllocating) {
    for (const uint32_t length : {kMaxFrameLength + 1, 0xFFFFFFFFu}) {
        auto input = frameBytes(std::vector<uint8_t>{});
        for (int i = 0; i < 4; ++i) {
            input[4 + i] = static_cast<uint8_t>(length >> (8 * i));
        }
        RecordingStream bad(input, Delivery::Whole);
        CArchive ar(bad, CArchive::Mode::Load);
        g_largest = 0;
        g_armed = true;
        try {
            FrameBuffer buffer;
            (void)VoiceMessageFrame::read(ar, buffer);
            g_armed = false;
            FAIL() << "accepted length " << length;
        } catch (const ArchiveError& e) {
            g_armed = false;
            EXPECT_EQ(e.cause(), ArchiveError::Cause::BadLength);
        }
        EXPECT_LT(g_largest.load(), size_t{1} << 20);
    }
    // At the bound itself the reader does try to allocate the whole Data.
    auto input = frameBytes(std::vector<uint8_t>{});
    for (int i = 0; i < 4; ++i) {
        input[4 + i] = static_cast<uint8_t>(kMaxFrameLength >> (8 * i));
    }
    RecordingStream stream(input, Delivery::Whole);
    CArchive ar(stream, CArchive::Mode::Load);
    g_largest = 0;
    g_armed = true;
    FrameBuffer buffer;
    EXPECT_THROW((void)VoiceMessageFrame::read(ar, buffer), std::bad_alloc);
    g_armed = false;
    EXPECT_EQ(g_largest.load(), size_t{kMaxFrameLength});
}

// Through the station's own sockets and socket files, each end on a thread
// of its own, as a call's are.
TEST(VoiceFrameSocket, CarriesAFiveMegabyteFrameWhole) {
    auto [near, far] = test::PlainSocket::connectedPair();
    const auto data = pattern(5 * 1024 * 1024, 11);
    std::optional<std::vector<uint8_t>> first, second;
    std::thread reader([&, fd = far.release()] {
        CSocket socket;
        ASSERT_TRUE(socket.Attach(fd));
        CSocketFile file(socket);
        CArchive ar(file, CArchive::Mode::Load);
        FrameBuffer call;
        first = readFrame(ar, &call);
        second = readFrame(ar, &call);
    });
    std::thread writer([&, fd = near.release()] {
        CSocket socket;
        ASSERT_TRUE(socket.Attach(fd));
        CSocketFile file(socket);
        CArchive ar(file, CArchive::Mode::Store);
        VoiceMessageFrame::write(ar, data.data(), static_cast<uint32_t>(data.size()));
        ::shutdown(socket.Handle(), SHUT_WR);
    });
    writer.join();
    reader.join();
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(*first == data);
    EXPECT_EQ(second, std::nullopt);
}

}  // namespace
}  // namespace chatterly
