#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <thread>

#include "framework/ArchiveError.h"
#include "framework/FileError.h"
#include "framework/FileStream.h"
#include "net/RecordingStream.h"
#include "net/VoiceMessageFrame.h"

// While armed, records the largest allocation and refuses any of a gigabyte
// or more, so a test can see what the frame reader tries to allocate.
namespace {
std::atomic<bool> g_armed{false};
std::atomic<size_t> g_largest{0};
}  // namespace

void* operator new(size_t n) {
    if (g_armed.load()) {
        size_t prev = g_largest.load();
        while (n > prev && !g_largest.compare_exchange_weak(prev, n)) {
        }
        if (n >= (size_t{1} << 30)) {
            throw std::bad_alloc();
        }
    }
    if (void* p = std::malloc(n ? n : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

namespace chatterly {
namespace {

// A received frame as a plain byte vector, for comparing.
std::optional<std::vector<uint8_t>> readFrame(CArchive& ar) {
    auto frame = VoiceMessageFrame::read(ar);
    if (!frame) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(frame->begin(), frame->end());
}

using test::Delivery;
using test::pattern;
using test::RecordingStream;

std::vector<uint8_t> frameBytes(uint32_t reserved, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out;
    for (uint32_t v : {reserved, static_cast<uint32_t>(data.size())}) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

TEST(VoiceFrameWrite, SmallFrameIsOneSend) {
    RecordingStream stream;
    CArchive ar(stream, CArchive::Mode::Store);
    const auto data = pattern(1000);
    VoiceMessageFrame::write(ar, data.data(), 1000);
    ASSERT_EQ(stream.sendSizes(), std::vector<size_t>{1008});
    const std::vector<uint8_t> header{0, 0, 0, 0, 0xE8, 0x03, 0, 0};
    EXPECT_TRUE(std::equal(header.begin(), header.end(), stream.sends[0].begin()));
    EXPECT_EQ(stream.sentBytes(), frameBytes(0, data));
}

TEST(VoiceFrameWrite, LargeFrameSendsHeaderBlockThenBulkThenRemainder) {
    RecordingStream stream;
    CArchive ar(stream, CArchive::Mode::Store);
    const auto data = pattern(4088 + 2 * 4096 + 300);
    VoiceMessageFrame::write(ar, data.data(), static_cast<uint32_t>(data.size()));
    ASSERT_EQ(stream.sendSizes(), (std::vector<size_t>{4096, 8192, 300}));
    EXPECT_EQ(stream.sentBytes(), frameBytes(0, data));
    EXPECT_EQ(ar.buffered(), 0u);
}

TEST(VoiceFrameRead, FramesUnderEveryDelivery) {
    const auto big = pattern(3 * 4096 + 77, 5);
    const auto small = pattern(1000, 9);
    std::vector<uint8_t> input = frameBytes(0, small);
    for (const auto& f : {frameBytes(0, {}), frameBytes(0xFFFFFFFF, big), frameBytes(7, small)}) {
        input.insert(input.end(), f.begin(), f.end());
    }
    for (Delivery d : {Delivery::Whole, Delivery::Split, Delivery::OneByte}) {
        RecordingStream stream(input, d);
        CArchive ar(stream, CArchive::Mode::Load);
        EXPECT_EQ(readFrame(ar), small);
        EXPECT_EQ(readFrame(ar), std::vector<uint8_t>{});
        EXPECT_EQ(readFrame(ar), big);
        EXPECT_EQ(readFrame(ar), small);
        EXPECT_EQ(readFrame(ar), std::nullopt);
    }
}

TEST(VoiceFrameRead, TwoFramesInOneReceive) {
    auto input = frameBytes(0, pattern(10));
    const auto second = frameBytes(0, pattern(20, 3));
    input.insert(input.end(), second.begin(), second.end());
    RecordingStream stream(input, Delivery::Whole);
    CArchive ar(stream, CArchive::Mode::Load);
    EXPECT_EQ(readFrame(ar), pattern(10));
    EXPECT_EQ(stream.receives.size(), 1u);
    EXPECT_EQ(readFrame(ar), pattern(20, 3));
    EXPECT_EQ(stream.receives.size(), 1u);
}

TEST(VoiceFrameRead, StreamEndingInsideAFrameGivesNothing) {
    const auto whole = frameBytes(0, pattern(5000));
    for (size_t cut : {size_t{0}, size_t{3}, size_t{8}, size_t{4100}, whole.size() - 1}) {
        for (Delivery d : {Delivery::Whole, Delivery::Split, Delivery::OneByte}) {
            RecordingStream stream({whole.begin(), whole.begin() + cut}, d);
            CArchive ar(stream, CArchive::Mode::Load);
            EXPECT_EQ(readFrame(ar), std::nullopt) << "cut at " << cut;
        }
    }
}

TEST(VoiceFrameRead, LengthAboveBoundThrowsBeforeAllocating) {
    for (uint32_t length : {MaxFrameLength + 1, 0xFFFFFFFFu}) {
        auto input = frameBytes(0, {});
        for (int i = 0; i < 4; ++i) {
            input[4 + i] = static_cast<uint8_t>(length >> (8 * i));
        }
        RecordingStream bad(input, Delivery::Whole);
        CArchive ar(bad, CArchive::Mode::Load);
        g_largest = 0;
        g_armed = true;
        try {
            VoiceMessageFrame::read(ar);
            g_armed = false;
            FAIL() << "accepted length " << length;
        } catch (const ArchiveError& e) {
            g_armed = false;
            EXPECT_EQ(e.cause(), ArchiveError::Cause::BadLength);
        }
        EXPECT_LT(g_largest.load(), size_t{1} << 20);
    }
    // At the bound itself the reader does try to allocate the whole Data.
    auto input = frameBytes(0, {});
    input[7] = 0x40;  // 1 << 30
    RecordingStream stream(input, Delivery::Whole);
    CArchive ar(stream, CArchive::Mode::Load);
    g_largest = 0;
    g_armed = true;
    EXPECT_THROW(VoiceMessageFrame::read(ar), std::bad_alloc);
    g_armed = false;
    EXPECT_EQ(g_largest.load(), size_t{MaxFrameLength});
}

TEST(VoiceFrameSocket, CarriesAFiveMegabyteFrameWhole) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const int server = ::accept(listener, nullptr, nullptr);
    ::close(listener);
    ASSERT_GE(server, 0);
    // A generous deadline instead of a hang if the frame never arrives whole.
    timeval limit{60, 0};
    ::setsockopt(server, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);

    const auto data = pattern(5 * 1024 * 1024, 11);
    std::optional<std::vector<uint8_t>> first, second;
    std::thread reader([&] {
        FileStream in(server, true);
        CArchive ar(in, CArchive::Mode::Load);
        first = readFrame(ar);
        second = readFrame(ar);
    });
    {
        FileStream out(client, true);
        CArchive ar(out, CArchive::Mode::Store);
        VoiceMessageFrame::write(ar, data.data(), static_cast<uint32_t>(data.size()));
        ::shutdown(client, SHUT_WR);
    }
    reader.join();
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(*first == data);
    EXPECT_EQ(second, std::nullopt);
}

}  // namespace
}  // namespace chatterly
