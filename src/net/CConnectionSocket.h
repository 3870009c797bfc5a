#pragma once
// The station's end of one call: a connected socket that reads voice message
// frames, plays each one as it arrives with the speaker animation, and
// returns the station to idle when the far end closes. Incoming calls'
// sockets live on the GUI thread (the listener owns them); an outgoing call's
// socket lives on its caller worker. Recordings are sent here, each as one
// frame, through one store archive for the whole call.
//
// A frame that cannot be played shows "Failed to play voice file." once in a
// call; later ones in the same call are dropped quietly, so a caller cannot
// keep the user answering boxes.
//
// A frame that cannot be read whole (the far end closed or reset inside it,
// or it announces more than kMaxFrameLength) is never played: the stream is no
// longer at a frame boundary, so the connection is closed and the station
// returns to idle as when the far end closes. A read that the station itself
// cancelled (it closed the connection under the read: Disconnect, the
// window's close) is no error to report: the frame is dropped and the call is
// over.
//
// The frames of a call are received into one buffer, kept between them
// (FrameBuffer). Whoever closes the connection, the buffer and the archives
// are given back when it closes, or, when it closes under one of its own
// handlers (a message that plays, a frame being read), once that handler is
// done; then the owner is told (SetWhenClosed), so that it can free the
// object.

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "audio/RecordingSink.h"
#include "framework/sockets/CSocket.h"
#include "framework/sockets/CSocketFile.h"
#include "framework/streams/CArchive.h"
#include "net/FrameBuffer.h"

namespace chatterly {

class CallStation;

class CConnectionSocket : public CSocket, public RecordingSink {
  public:
    explicit CConnectionSocket(CallStation* station);
    ~CConnectionSocket() override;

    // Dispatches one waiting message of the thread and one waiting paint
    // request; returns false. The caller worker calls it between its polls.
    bool PumpWhileWaiting() override;

    // Sends one frame holding the file's bytes through the call's store
    // archive (4096-byte buffer), flushed. A recording that comes while a
    // send waits, or while a frame from the far end is being read (the wait
    // dispatched the release), is queued and sent right after, so each
    // release sends exactly one frame. A connection that fails under a frame
    // ends the call: it is closed, the station goes to idle and the status
    // line says the message was not delivered; one the station closed itself
    // (Disconnect, the window's close) drops what was queued quietly.
    void sendRecording(const std::vector<uint8_t>& wavFile) override;

    // Closes the socket and gives back what the call held (see above).
    void Close() override;
    // Runs whenClosed on the owning thread once the connection has closed
    // and none of its handlers runs any more.
    void SetWhenClosed(std::function<void()> whenClosed) { whenClosed_ = std::move(whenClosed); }

    // Frames played on this connection (tests and diagnostics).
    size_t FramesPlayed() const { return framesPlayed_; }
    // Whether one of its handlers or a send is under way (its object must
    // stay).
    bool InUse() const { return inUse_ > 0; }

  protected:
    void HandleReadable(int error) override;
    void HandlePeerClosed(int error) override;

  private:
    // A handler or a send of the connection under way, for its length.
    class Handling {
      public:
        explicit Handling(CConnectionSocket& c) : c_(c) { ++c_.inUse_; }
        ~Handling();
        Handling(const Handling&) = delete;
        Handling& operator=(const Handling&) = delete;

      private:
        CConnectionSocket& c_;
    };
    // Counts while a frame of received_ plays.
    struct Playing {
        explicit Playing(int& n) : n_(n) { ++n_; }
        ~Playing() { --n_; }
        int& n_;
    };

    void ReadAndPlayOneFrame();
    // Sends first (if any), then what waits to be sent; on a failure ends
    // the call as above.
    void SendWaiting(const std::vector<uint8_t>* first = nullptr);
    void WriteFrame(const std::vector<uint8_t>& wavFile);
    CSocketFile& File();
    void DropStream();
    // Gives back what the closed call held and tells the owner; once.
    void ReleaseClosed();
    // The far end left mid-frame: close, and go to idle as on its close.
    void AbandonCall();

    CallStation* station_;
    std::unique_ptr<CSocketFile> socketFile_;
    std::unique_ptr<CArchive> loadArchive_;
    FrameBuffer received_;  // the call's frames, one at a time
    std::unique_ptr<CArchive> storeArchive_;
    bool sending_ = false;
    bool reading_ = false;  // a frame from the far end is being read
    std::deque<std::vector<uint8_t>> waitingToSend_;
    size_t framesPlayed_ = 0;
    int inUse_ = 0;
    int playing_ = 0;  // a frame of received_ is being played
    bool released_ = false;
    std::function<void()> whenClosed_;
    bool playFailureShown_ = false;
};

}  // namespace chatterly
