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
// (FrameBuffer). A call that ends while its message plays gives the buffer
// back only once the playback is done with it.

#include <deque>
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

    // Frames played on this connection (tests and diagnostics).
    size_t FramesPlayed() const { return framesPlayed_; }
    // Whether one of its handlers or a send is under way (its object must
    // stay).
    bool InUse() const { return inUse_ > 0; }

  protected:
    void HandleReadable(int error) override;
    void HandlePeerClosed(int error) override;

  private:
    struct InUseScope {
        explicit InUseScope(int& depth) : depth_(depth) { ++depth_; }
        ~InUseScope() { --depth_; }
        int& depth_;
    };

    void ReadAndPlayOneFrame();
    // Sends what waits to be sent; on a failure ends the call as above.
    void SendWaiting();
    void WriteFrame(const std::vector<uint8_t>& wavFile);
    CSocketFile& File();
    void DropStream();
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
    bool playFailureShown_ = false;
};

}  // namespace chatterly
