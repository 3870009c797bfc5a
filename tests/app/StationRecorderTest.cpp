// The station's recorder on the receiving end of a call, over the wire: a
// plain client calls a real station window, the user presses and releases
// Talk, and the client receives each recording as one frame. Also the start
// without a sound server, and the scratch file's removal at the end.
#include <gtest/gtest.h>
#include <poll.h>

#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>

#include "app/CStationDlg.h"
#include "control/ControlIds.h"
#include "framework/ThreadStarter.h"
#include "support/PlainSocket.h"
#include "support/TestSupport.h"

using namespace chatterly;
using chatterly::test::MessageBoxRecorder;
using chatterly::test::PlainSocket;
using chatterly::test::ScratchDirectory;
using chatterly::test::waitFor;

namespace {

std::vector<uint8_t> fileBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Reads whole frames off a plain socket until count have come.
std::vector<std::vector<uint8_t>> readFrames(const PlainSocket& from, size_t count) {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint8_t> pending;
    uint8_t chunk[65536];
    while (frames.size() < count) {
        pollfd p{from.fd(), POLLIN, 0};
        if (poll(&p, 1, 30000) <= 0) {
            break;
        }
        const ssize_t n = recv(from.fd(), chunk, sizeof chunk, 0);
        if (n <= 0) {
            break;
        }
        pending.insert(pending.end(), chunk, chunk + n);
        while (pending.size() >= 8) {
            const uint32_t length = pending[4] | (pending[5] << 8) | (pending[6] << 16) |
                                    (static_cast<uint32_t>(pending[7]) << 24);
            if (pending.size() < 8 + length) {
                break;
            }
            frames.emplace_back(pending.begin() + 8, pending.begin() + 8 + length);
            pending.erase(pending.begin(), pending.begin() + 8 + length);
        }
    }
    return frames;
}

QPushButton* talk(CStationDlg& window) {
    return qobject_cast<QPushButton*>(window.control(IDC_TALK));
}

}  // namespace

TEST(StationRecorder, TalkOnAnIncomingCallSendsEachRecordingAsOneFrame) {
    if (!chatterly::test::soundServerAvailable()) {
        GTEST_SKIP() << "no sound server";
    }
    ScratchDirectory dir;
    MessageBoxRecorder boxes;
    std::vector<std::vector<uint8_t>> saved;
    {
        StationOptions options;
        options.listenPort = 0;
        CStationDlg window(options);
        window.InitStationWindow();
        window.show();
        ASSERT_NE(window.listeningPort(), 0);
        PlainSocket caller = PlainSocket::connectLoopback(window.listeningPort());
        ASSERT_TRUE(waitFor([&] { return window.isIncomingCall(); }));
        auto frames = std::async(std::launch::async, [&] { return readFrames(caller, 2); });

        for (int i = 0; i < 2; ++i) {
            QTest::mouseClick(talk(window), Qt::LeftButton);
            EXPECT_EQ(talk(window)->text(), "&Stop Recording");
            // The user speaks for a moment.
            waitFor([] { return false; }, std::chrono::milliseconds(400 + 300 * i));
            QTest::mouseClick(talk(window), Qt::LeftButton);
            EXPECT_EQ(talk(window)->text(), "&Talk");
            saved.push_back(fileBytes("Parlio.wav"));
        }
        ASSERT_TRUE(waitFor(
            [&] { return frames.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            std::chrono::seconds(60)));
        const auto received = frames.get();
        ASSERT_EQ(received.size(), 2u);
        EXPECT_TRUE(received[0] == saved[0]);
        EXPECT_TRUE(received[1] == saved[1]);
        EXPECT_GT(saved[1].size(), saved[0].size());  // the longer press
        EXPECT_TRUE(boxes.texts().empty());
        window.Disconnect();
    }
    EXPECT_TRUE(ThreadStarter::waitForAll(std::chrono::seconds(20)));
    // The window's end removed the scratch file.
    EXPECT_FALSE(std::filesystem::exists(dir.file("Parlio.wav")));
}

TEST(StationRecorder, WithoutASoundServerTheStationStartsWithoutRecorder) {
    ScratchDirectory dir;
    MessageBoxRecorder boxes;
    StationOptions options;
    options.listenPort = 0;
    options.recorder.server = "unix:/nonexistent/chatterly-no-server";
    CStationDlg window(options);
    window.InitStationWindow();
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Failed to open sound recording device"});
    EXPECT_FALSE(talk(window)->isEnabled());
    // The initialisation ended there: nothing listens.
    EXPECT_EQ(window.listeningPort(), 0);
    // A call that connects enables Talk; each press then fails.
    window.SetConnectedControls(true);
    window.SetIncomingState(true);
    for (int i = 0; i < 2; ++i) {
        QTest::mouseClick(talk(window), Qt::LeftButton);
        EXPECT_FALSE(talk(window)->isChecked());
    }
    const std::vector<std::string> expected{"Failed to open sound recording device",
                                            "Failed to start recording.",
                                            "Failed to start recording."};
    EXPECT_EQ(boxes.texts(), expected);
    window.Disconnect();
    EXPECT_TRUE(ThreadStarter::waitForAll(std::chrono::seconds(20)));
}
