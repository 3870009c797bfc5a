#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <memory>
#include <thread>

#include "framework/streams/ArchiveEncodings.h"
#include "framework/streams/ArchiveError.h"
#include "framework/streams/CArchive.h"
#include "framework/streams/FileError.h"
#include "framework/streams/FileStream.h"
#include "support/RecordingStream.h"
#include "support/TestSupport.h"

namespace chatterly {
namespace {

using test::Delivery;
using test::pattern;
using test::RecordingStream;

TEST(ArchiveWrite, SendsWholeBlocksAndBulkStraightFromCaller) {
    struct Case {
        std::vector<size_t> writes;
        std::vector<size_t> sendsBeforeFlush;
        std::vector<size_t> sendsAfterFlush;
    };
    const Case cases[] = {
        {{3, 5}, {}, {8}},               // exactly fills: held until flush
        {{3, 6}, {8}, {8, 1}},           // overflow by one
        {{3, 30}, {8, 24}, {8, 24, 1}},  // brim, three direct blocks, rest
        {{16}, {8, 8}, {8, 8}},          // empty buffer, multiple of the size
        {{0, 0}, {}, {}},
    };
    for (const auto& c : cases) {
        RecordingStream stream;
        CArchive ar(stream, CArchive::Mode::Store, 8);
        std::vector<uint8_t> expected;
        uint8_t seed = 0;
        for (size_t n : c.writes) {
            const auto data = pattern(n, ++seed);
            ar.Write(data.data(), n);
            expected.insert(expected.end(), data.begin(), data.end());
        }
        EXPECT_EQ(stream.sendSizes(), c.sendsBeforeFlush);
        ar.Flush();
        EXPECT_EQ(stream.sendSizes(), c.sendsAfterFlush);
        EXPECT_EQ(stream.sentBytes(), expected);
    }
}

TEST(ArchiveRead, ReturnsEveryByteAndKeepsExtrasBufferedUnderAnyDelivery) {
    const auto input = pattern(50);
    for (Delivery d : {Delivery::Whole, Delivery::Split, Delivery::OneByte}) {
        RecordingStream stream(input, d);
        CArchive ar(stream, CArchive::Mode::Load, 8);
        std::vector<uint8_t> out;
        for (size_t n : {3, 20, 1, 8, 18}) {
            std::vector<uint8_t> part(n);
            ASSERT_EQ(ar.Read(part.data(), n), n);
            out.insert(out.end(), part.begin(), part.end());
        }
        EXPECT_EQ(out, input);
        uint8_t extra;
        EXPECT_EQ(ar.Read(&extra, 1), 0u);
    }
}

TEST(ArchiveRead, BulkGoesStraightToDestinationAndShortReadAtEnd) {
    RecordingStream stream(pattern(21), Delivery::Whole);
    CArchive ar(stream, CArchive::Mode::Load, 8);
    std::vector<uint8_t> out(19);
    ASSERT_EQ(ar.Read(out.data(), 19), 19u);
    // 16 bytes direct, then one buffered receive of up to 8 bytes.
    EXPECT_EQ(stream.receives, (std::vector<size_t>{16, 5}));
    EXPECT_EQ(ar.Buffered(), 2u);
    std::vector<uint8_t> tail(10);
    EXPECT_EQ(ar.Read(tail.data(), 10), 2u);
}

TEST(ArchiveIntegers, LittleEndianAndEndOfFileNamesTheStream) {
    RecordingStream out;
    {
        CArchive ar(out, CArchive::Mode::Store);
        ar.WriteU8(0xAB);
        ar.WriteU16(0x1234);
        ar.WriteU32(0xDEADBEEF);
    }  // the destructor flushes
    EXPECT_EQ(out.sentBytes(), (std::vector<uint8_t>{0xAB, 0x34, 0x12, 0xEF, 0xBE, 0xAD, 0xDE}));
    RecordingStream in(out.sentBytes(), Delivery::OneByte);
    CArchive ar(in, CArchive::Mode::Load);
    EXPECT_EQ(ar.ReadU8(), 0xAB);
    EXPECT_EQ(ar.ReadU16(), 0x1234);
    EXPECT_EQ(ar.ReadU32(), 0xDEADBEEFu);
    try {
        ar.ReadU16();
        FAIL() << "no error at the end";
    } catch (const ArchiveError& e) {
        EXPECT_EQ(e.cause(), ArchiveError::Cause::EndOfFile);
        EXPECT_NE(e.description().find("recorded.stream"), std::string::npos);
    }
}

TEST(ArchiveErrors, FailuresPropagateExceptInTheDestructor) {
    RecordingStream stream;
    stream.failAfter(0);
    {
        CArchive ar(stream, CArchive::Mode::Store, 8);
        ar.WriteU32(1);
        EXPECT_THROW(ar.Flush(), FileError);
        ar.WriteU32(2);
    }  // the destructor's failing flush is swallowed
    RecordingStream dropped;
    {
        CArchive ar(dropped, CArchive::Mode::Store, 8);
        ar.WriteU32(7);
        ar.Abort();
    }
    EXPECT_TRUE(dropped.sends.empty());
}

TEST(ArchiveErrors, MisuseRaisesArchiveErrorsNamingTheStream) {
    struct Case {
        const char* what;
        CArchive::Mode mode;
        size_t bufferSize;
        void (*use)(CArchive&);
        ArchiveError::Cause cause;
    };
    const Case cases[] = {
        {"a write on a loading archive", CArchive::Mode::Load, 8,
         [](CArchive& ar) { ar.WriteU8(1); }, ArchiveError::Cause::ReadOnly},
        {"a read on a storing archive", CArchive::Mode::Store, 8,
         [](CArchive& ar) { (void)ar.ReadU8(); }, ArchiveError::Cause::WriteOnly},
        {"a buffer of no bytes", CArchive::Mode::Store, 0, [](CArchive&) {},
         ArchiveError::Cause::NoBuffer},
        {"a count beyond 32 bits", CArchive::Mode::Store, 8,
         [](CArchive& ar) { ArchiveEncodings::writeCount(ar, size_t{1} << 32); },
         ArchiveError::Cause::TooLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingStream stream(pattern(4));
        try {
            CArchive ar(stream, c.mode, c.bufferSize);
            c.use(ar);
            ADD_FAILURE() << "no error";
        } catch (const ArchiveError& e) {
            EXPECT_EQ(e.cause(), c.cause);
            EXPECT_NE(e.description().find("recorded.stream"), std::string::npos);
        }
        EXPECT_TRUE(stream.sends.empty());
    }
}

TEST(FileStreamArchive, RoundTripsThroughARealFileAndReportsOpenErrors) {
    test::ScratchDirectory dir;
    const std::string name = dir.file("message.bin");
    const auto data = pattern(10000);
    {
        FileStream file(name, FileStream::Mode::Scratch);
        CArchive ar(file, CArchive::Mode::Store);
        ar.Write(data.data(), data.size());
        ar.Close();
    }
    FileStream file(name, FileStream::Mode::Read);
    CArchive ar(file, CArchive::Mode::Load);
    std::vector<uint8_t> back(data.size() + 10);
    EXPECT_EQ(ar.Read(back.data(), back.size()), data.size());
    back.resize(data.size());
    EXPECT_EQ(back, data);
    try {
        FileStream missing(dir.file("absent.bin"), FileStream::Mode::Read);
        FAIL() << "opened a missing file";
    } catch (const FileError& e) {
        EXPECT_EQ(e.cause(), ENOENT);
        EXPECT_EQ(e.fileName(), dir.file("absent.bin"));
    }
}

TEST(FileStreamReadAll, ReadsToTheEndOrRefusesWhatIsOverTheLimit) {
    test::ScratchDirectory dir;
    struct Case {
        const char* what;
        size_t size;
        uint64_t limit;
        bool fits;
    };
    const Case cases[] = {
        {"empty", 0, 10, true},
        {"exactly the limit", 70000, 70000, true},
        {"one over the limit", 70001, 70000, false},
        {"far under the limit", 5, 1u << 30, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto data = pattern(c.size, 3);
        for (const bool piped : {false, true}) {
            SCOPED_TRACE(piped ? "through a pipe (size unknown)" : "a regular file");
            std::unique_ptr<FileStream> in;
            std::thread writer;
            if (piped) {
                int fds[2];
                ASSERT_EQ(::pipe(fds), 0);
                in = std::make_unique<FileStream>(fds[0], true);
                writer = std::thread(
                    [&, fd = fds[1]] { FileStream(fd, true).write(data.data(), data.size()); });
            } else {
                test::writeFile(dir.file("whole.bin"), data);
                in = std::make_unique<FileStream>(dir.file("whole.bin"), FileStream::Mode::Read);
            }
            try {
                EXPECT_EQ(in->readAll(c.limit), data);
                EXPECT_TRUE(c.fits);
            } catch (const FileError& e) {
                EXPECT_FALSE(c.fits);
                EXPECT_EQ(e.cause(), EFBIG);
            }
            in.reset();  // a writer still blocked on a refused pipe sees it close
            if (writer.joinable()) {
                writer.join();
            }
        }
    }
}

}  // namespace
}  // namespace chatterly
