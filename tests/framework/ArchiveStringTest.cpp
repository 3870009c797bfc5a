// The memory file's count and string encodings (ArchiveEncodings), byte for
// byte, read back under every delivery (whole, split in two, one byte per
// receive) and through a small buffer, so every field also straddles a refill.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <variant>
#include <vector>

#include "framework/streams/AnsiCodec.h"
#include "framework/streams/ArchiveEncodings.h"
#include "framework/streams/ArchiveError.h"
#include "framework/streams/CArchive.h"
#include "support/RecordingStream.h"

// The program's allocations while watching is set: the largest size asked
// for. One of a GiB or more fails at once, as on a machine without that
// memory, so asking for what data only announce is seen without the memory
// being taken.
namespace {
std::atomic<bool> watching{false};
std::atomic<size_t> largestAsked{0};  // only the test's thread asks for much
}  // namespace

void* operator new(size_t n) {
    if (watching && n > largestAsked) {
        largestAsked = n;
    }
    void* p = watching && n >= (size_t{1} << 30) ? nullptr : std::malloc(n > 0 ? n : 1);
    if (!p) {
        throw std::bad_alloc();
    }
    return p;
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

namespace chatterly {
namespace {

using test::Delivery;
using test::RecordingStream;
using Bytes = std::vector<uint8_t>;

constexpr Delivery kDeliveries[] = {Delivery::Whole, Delivery::Split, Delivery::OneByte};
constexpr size_t kBuffers[] = {4096, 7};

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
Bytes utf16(const std::u16string& s) {
    Bytes out;
    for (const char16_t u : s) {
        out.push_back(static_cast<uint8_t>(u));
        out.push_back(static_cast<uint8_t>(u >> 8));
    }
    return out;
}
enum class Field { Count, String };

std::string filler(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>('a' + i % 26);
    }
    return s;
}

template <typename Write>
Bytes stored(Write write) {
    RecordingStream out;
    {
        CArchive ar(out, CArchive::Mode::Store);
        write(ar);
        ar.Close();
    }
    return out.sentBytes();
}

// Runs read over every delivery and buffer size.
template <typename Read>
void forEveryDelivery(const Bytes& input, Read read) {
    for (const Delivery d : kDeliveries) {
        for (const size_t buffer : kBuffers) {
            SCOPED_TRACE(testing::Message()
                         << "delivery " << static_cast<int>(d) << ", buffer " << buffer);
            RecordingStream in(input, d);
            CArchive ar(in, CArchive::Mode::Load, buffer);
            read(ar);
        }
    }
}

// A count is two bytes up to 65534 and six from 65535; a string's length
// prefix is one byte up to 254, three up to 65533 and seven from 65534
// (the memory file's stations at these lengths and counts take these forms).
TEST(MemoryFileEncoding, CountsAndLengthsTakeTheShortestFormThatHoldsThemAndReadBack) {
    const struct {
        Field field;
        uint32_t n;  // the count, or the string's length
        Bytes form;  // the count's bytes, or the string's prefix
    } cases[] = {
        {Field::Count, 0, {0x00, 0x00}},
        {Field::Count, 2, {0x02, 0x00}},
        {Field::Count, 65534, {0xFE, 0xFF}},
        {Field::Count, 65535, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
        {Field::Count, 65536, {0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}},
        {Field::Count, 0xFFFFFFFFu, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {Field::String, 0, {0x00}},
        {Field::String, 1, {0x01}},
        {Field::String, 254, {0xFE}},
        {Field::String, 255, {0xFF, 0xFF, 0x00}},
        {Field::String, 65533, {0xFF, 0xFD, 0xFF}},
        {Field::String, 65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {Field::String, 70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.field == Field::Count ? "count " : "length ") << c.n);
        if (c.field == Field::Count) {
            EXPECT_EQ(stored([&](CArchive& ar) { ArchiveEncodings::writeCount(ar, c.n); }), c.form);
            forEveryDelivery(
                c.form, [&](CArchive& ar) { EXPECT_EQ(ArchiveEncodings::readCount(ar), c.n); });
            continue;
        }
        const std::string s = filler(c.n);
        const Bytes expected = c.form + text(s);
        EXPECT_EQ(stored([&](CArchive& ar) { ArchiveEncodings::writeString(ar, s); }), expected);
        forEveryDelivery(expected,
                         [&](CArchive& ar) { EXPECT_EQ(ArchiveEncodings::readString(ar), s); });
    }
}

TEST(MemoryFileEncodingString, EveryByteValueSurvivesARoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
    }
    const Bytes bytes = stored([&](CArchive& ar) {
        ArchiveEncodings::writeString(ar, all);
        ArchiveEncodings::writeString(ar, "");
        ArchiveEncodings::writeString(ar, "desk");
    });
    forEveryDelivery(bytes, [&](CArchive& ar) {
        EXPECT_EQ(ArchiveEncodings::readString(ar), all);
        EXPECT_EQ(ArchiveEncodings::readString(ar), "");
        EXPECT_EQ(ArchiveEncodings::readString(ar), "desk");
    });
}

// Other stations' files may hold a count or a length in a longer form than
// it needs, and strings in the wide form (UTF-16, converted to Windows-1252).
TEST(MemoryFileEncoding, ReadsLongerFormsThanNeededAndWideStrings) {
    const struct {
        const char* what;
        Bytes bytes;
        std::variant<uint32_t, std::string> expected;  // a count, or a string
    } cases[] = {
        {"a count's long form for 3", {0xFF, 0xFF, 0x03, 0x00, 0x00, 0x00}, 3u},
        {"a count's long form for 1", {0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00}, 1u},
        {"u16 form for 5 bytes", Bytes{0xFF, 0x05, 0x00} + text("hello"), "hello"},
        {"u16 form for 8 bytes", Bytes{0xFF, 0x08, 0x00} + text("10.0.0.5"), "10.0.0.5"},
        {"u16 form for 0 bytes", {0xFF, 0x00, 0x00}, ""},
        {"u16 form for 254 bytes", Bytes{0xFF, 0xFE, 0x00} + text(filler(254)), filler(254)},
        {"u32 form for 5 bytes", Bytes{0xFF, 0xFF, 0xFF, 0x05, 0x00, 0x00, 0x00} + text("hello"),
         "hello"},
        {"u32 form for 8 bytes", Bytes{0xFF, 0xFF, 0xFF, 0x08, 0x00, 0x00, 0x00} + text("10.0.0.5"),
         "10.0.0.5"},
        {"wide, short prefix", Bytes{0xFF, 0xFE, 0xFF, 0x04} + utf16(u"desk"), "desk"},
        {"wide, empty", {0xFF, 0xFE, 0xFF, 0x00}, ""},
        {"wide, u16 prefix", Bytes{0xFF, 0xFE, 0xFF, 0xFF, 0x02, 0x00} + utf16(u"hi"), "hi"},
        {"wide, u16 prefix for 8", Bytes{0xFF, 0xFE, 0xFF, 0xFF, 0x08, 0x00} + utf16(u"10.0.0.2"),
         "10.0.0.2"},
        {"wide, a letter with diaeresis", Bytes{0xFF, 0xFE, 0xFF, 0x04} + utf16(u"d\u00EBsk"),
         "d\xEBsk"},
        {"wide, u32 prefix",
         Bytes{0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00} + utf16(u"x"), "x"},
        {"wide, second prefix FFFE is a length",
         Bytes{0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF} + utf16(std::u16string(65534, u'z')),
         std::string(65534, 'z')},
        // Windows-1252 has é at E9, € at 80, Š at 8A; 中 has no byte.
        {"wide, converted",
         Bytes{0xFF, 0xFE, 0xFF, 0x05} +
             utf16(std::u16string{0x00E9, 0x20AC, 0x0160, 0x4E2D, 0x0000}),
         std::string("\xE9\x80\x8A?\0", 5)},
        {"wide, surrogate pair is one character",
         Bytes{0xFF, 0xFE, 0xFF, 0x04} + utf16(u"a\xD83D\xDE00z"), "a?z"},
        {"wide, lone surrogates",
         Bytes{0xFF, 0xFE, 0xFF, 0x03} + utf16(u"\xDC00"
                                               u"b\xD800"),
         "?b?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        forEveryDelivery(c.bytes + text("\x02ok"), [&](CArchive& ar) {
            if (const auto* count = std::get_if<uint32_t>(&c.expected)) {
                EXPECT_EQ(ArchiveEncodings::readCount(ar), *count);
            } else {
                EXPECT_EQ(ArchiveEncodings::readString(ar), std::get<std::string>(c.expected));
            }
            EXPECT_EQ(ArchiveEncodings::readString(ar),
                      "ok");  // nothing more, nothing less was taken
        });
    }
}

TEST(MemoryFileEncodingString, DataThatEndEarlyRaiseEndOfFile) {
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"nothing", {}},
        {"inside the u16 prefix", {0xFF, 0x05}},
        {"inside the u32 prefix", {0xFF, 0xFF, 0xFF, 0x05, 0x00}},
        {"inside the body", Bytes{0x05} + text("hell")},
        {"inside the wide marker", {0xFF, 0xFE}},
        {"inside the wide prefix", {0xFF, 0xFE, 0xFF, 0xFF, 0x02}},
        {"inside a wide character", Bytes{0xFF, 0xFE, 0xFF, 0x02, 'h', 0x00, 'i'}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        forEveryDelivery(c.bytes, [&](CArchive& ar) {
            try {
                ArchiveEncodings::readString(ar);
                ADD_FAILURE() << "no error";
            } catch (const ArchiveError& e) {
                EXPECT_EQ(e.cause(), ArchiveError::Cause::EndOfFile);
                EXPECT_EQ(e.description(),
                          "An attempt was made to access recorded.stream past its end.");
            }
        });
    }
}

TEST(MemoryFileEncodingString, AnnouncedLengthsBeyondTheDataFailWithoutAllocatingForThem) {
    // 4 GiB announced, a few bytes present: with the size known the length is
    // refused before the body is read; without it the body is read in steps,
    // so the end of data, not an allocation of 4 GiB, ends the read.
    const Bytes huge = Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF} + text("abc");
    const Bytes hugeWide = Bytes{0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
    for (const Bytes& input : {huge, hugeWide}) {
        for (const bool sizeKnown : {true, false}) {
            SCOPED_TRACE(testing::Message() << input.size() << " bytes, size known " << sizeKnown);
            RecordingStream in(input);
            CArchive ar(in, CArchive::Mode::Load);
            if (sizeKnown) {
                ar.SetAvailable(input.size());
            }
            largestAsked = 0;
            watching = true;
            EXPECT_THROW(ArchiveEncodings::readString(ar), ArchiveError);
            watching = false;
            EXPECT_LT(largestAsked, size_t{1} << 20);  // nothing near what was announced
        }
    }
}

TEST(MemoryFileEncodingBounds, RequireAvailableCountsFromWhereTheSizeWasGiven) {
    RecordingStream in(
        text("\x03"
             "abc"
             "xyz"));
    CArchive ar(in, CArchive::Mode::Load);
    ar.RequireAvailable(1000);  // size unknown: never refuses
    ar.SetAvailable(7);
    ar.RequireAvailable(7);
    EXPECT_THROW(ar.RequireAvailable(8), ArchiveError);
    EXPECT_EQ(ArchiveEncodings::readString(ar), "abc");
    ar.RequireAvailable(3);
    EXPECT_THROW(ar.RequireAvailable(4), ArchiveError);
    // A length exactly as long as the rest is fine.
    ar.SetAvailable(3);
    uint8_t rest[3];
    EXPECT_EQ(ar.Read(rest, 3), 3u);
    ar.RequireAvailable(0);
    EXPECT_THROW(ar.RequireAvailable(1), ArchiveError);
}

TEST(MemoryFileEncodingBounds, AnEmptyErrorNameReadsUnnamedFile) {
    RecordingStream in;
    CArchive ar(in, CArchive::Mode::Load);
    ar.SetErrorName({});
    try {
        ArchiveEncodings::readCount(ar);
        FAIL() << "no error";
    } catch (const ArchiveError& e) {
        EXPECT_EQ(e.description(), "An attempt was made to access an unnamed file past its end.");
    }
}

TEST(AnsiCodec, EveryByteSurvivesARoundTripAndUnmappableCharactersBecomeQuestionMarks) {
    std::string all;
    for (int i = 1; i < 256; ++i) {
        all.push_back(static_cast<char>(i));
    }
    EXPECT_EQ(AnsiCodec::fromQString(AnsiCodec::toQString(all)), all);
    EXPECT_EQ(AnsiCodec::toQString("\x80"), QString(QChar(0x20AC)));
    EXPECT_EQ(AnsiCodec::fromQString(QStringLiteral("caf\u00e9 \u20ac \u4e2d")), "caf\xe9 \x80 ?");
}

}  // namespace
}  // namespace chatterly
