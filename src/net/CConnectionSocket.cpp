#include "net/CConnectionSocket.h"

#include <new>

#include "framework/sockets/SocketErrors.h"
#include "framework/streams/ArchiveError.h"
#include "framework/streams/FileError.h"
#include "framework/threads/ThreadLoop.h"
#include "framework/widgets/CallBoxes.h"
#include "framework/widgets/StatusLine.h"
#include "net/CallStation.h"
#include "net/VoiceMessageFrame.h"

namespace chatterly {
namespace {

constexpr const char* kNotDelivered = "Your message was not delivered: the call has ended.";

}  // namespace

CConnectionSocket::CConnectionSocket(CallStation* station) : station_(station) {}

CConnectionSocket::~CConnectionSocket() {
    if (storeArchive_) {
        storeArchive_->Abort();
    }
    storeArchive_.reset();
    DropStream();
    socketFile_.reset();
    CSocket::Close();
}

CSocketFile& CConnectionSocket::File() {
    if (!socketFile_) {
        socketFile_ = std::make_unique<CSocketFile>(*this);
    }
    return *socketFile_;
}

CConnectionSocket::Handling::~Handling() {
    if (--c_.inUse_ == 0 && !c_.IsOpen()) {
        c_.ReleaseClosed();
    }
}

void CConnectionSocket::Close() {
    CSocket::Close();
    if (inUse_ == 0) {
        ReleaseClosed();
    }
}

void CConnectionSocket::ReleaseClosed() {
    if (released_) {
        return;
    }
    released_ = true;
    if (storeArchive_) {
        storeArchive_->Abort();
        storeArchive_.reset();
    }
    waitingToSend_.clear();
    DropStream();
    if (whenClosed_) {
        whenClosed_();
    }
}

void CConnectionSocket::DropStream() {
    loadArchive_.reset();
    if (playing_ == 0) {
        received_.release();
    }
}

bool CConnectionSocket::PumpWhileWaiting() {
    if (ThreadLoop* l = Loop()) {
        l->dispatchOne();
        l->dispatchPaint();
    }
    return false;
}

void CConnectionSocket::sendRecording(const std::vector<uint8_t>& wavFile) {
    const Handling use(*this);
    if (sending_ || reading_) {
        waitingToSend_.push_back(wavFile);  // a copy: the caller's goes with the release
        return;
    }
    SendWaiting(&wavFile);
}

void CConnectionSocket::SendWaiting(const std::vector<uint8_t>* first) {
    sending_ = true;
    try {
        if (first) {
            WriteFrame(*first);
            station_->messageSent(*first);
        }
        while (!waitingToSend_.empty()) {
            const std::vector<uint8_t> next = std::move(waitingToSend_.front());
            waitingToSend_.pop_front();
            WriteFrame(next);
            station_->messageSent(next);
        }
        sending_ = false;
    } catch (const FileError& e) {
        // The stream is no longer at a frame boundary: nothing more goes out.
        sending_ = false;
        waitingToSend_.clear();
        if (storeArchive_) {
            storeArchive_->Abort();
            storeArchive_.reset();
        }
        if (e.cause() != WSAEINTR) {
            StatusLine::post(kNotDelivered);
            AbandonCall();
        }
    }
}

void CConnectionSocket::WriteFrame(const std::vector<uint8_t>& wavFile) {
    if (!storeArchive_) {
        storeArchive_ = std::make_unique<CArchive>(File(), CArchive::Mode::Store, 4096);
    }
    VoiceMessageFrame::write(*storeArchive_, wavFile.data(), static_cast<uint32_t>(wavFile.size()));
}

void CConnectionSocket::HandleReadable(int) {
    const Handling use(*this);
    if (!loadArchive_) {
        loadArchive_ = std::make_unique<CArchive>(File(), CArchive::Mode::Load, 4096);
    }
    // Frames that came in one segment wait whole or in part in the archive's
    // buffer, where no notification announces them: read on while it holds
    // bytes.
    do {
        ReadAndPlayOneFrame();
    } while (IsOpen() && loadArchive_ && loadArchive_->Buffered() > 0);
}

void CConnectionSocket::ReadAndPlayOneFrame() {
    std::span<const uint8_t> frame;
    struct Reading {
        explicit Reading(bool& flag) : flag_(flag) { flag_ = true; }
        ~Reading() { flag_ = false; }
        bool& flag_;
    };
    try {
        const Reading reading(reading_);
        frame = VoiceMessageFrame::read(*loadArchive_, received_);
    } catch (const FileError& e) {
        if (e.cause() == WSAEINTR) {
            // The station closed this socket under the read; whoever did
            // has already returned it to idle, and a reply released meanwhile
            // goes nowhere.
            waitingToSend_.clear();
            DropStream();
            return;
        }
        AbandonCall();  // a reset
        throw;
    } catch (const ArchiveError& e) {
        AbandonCall();
        if (e.cause() == ArchiveError::Cause::EndOfFile) {
            return;  // the far end left inside a frame: as when it closes
        }
        throw;
    } catch (const std::bad_alloc&) {
        AbandonCall();
        throw;
    }
    // Recordings released while the frame arrived go out now, before it plays.
    if (!waitingToSend_.empty()) {
        SendWaiting();
        if (!IsOpen()) {
            return;
        }
    }
    {
        const Playing play(playing_);
        station_->PlaybackAnimation(true);
        if (!station_->PlayVoiceMessage(frame.data(), frame.size()) && !playFailureShown_) {
            playFailureShown_ = true;
            CallBoxes::show("Failed to play voice file.");
        }
        station_->PlaybackAnimation(false);
    }
    received_.done(frame.size());
    if (!loadArchive_) {
        received_.release();  // the call ended while the message played
    }
    ++framesPlayed_;
}

void CConnectionSocket::AbandonCall() {
    if (!waitingToSend_.empty()) {
        waitingToSend_.clear();
        StatusLine::post(kNotDelivered);
    }
    DropStream();
    Close();
    station_->SetIncomingState(false);
}

void CConnectionSocket::HandlePeerClosed(int) {
    const Handling use(*this);
    station_->SetIncomingState(false);
    if (loadArchive_) {
        loadArchive_->Abort();
    }
    DropStream();
}

}  // namespace chatterly
