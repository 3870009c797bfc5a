#pragma once
// The station's end of one call: a connected socket that reads voice message
// frames, plays each one as it arrives with the speaker animation, and
// returns the station to idle when the far end closes. Incoming calls'
// sockets live on the GUI thread (the listener owns them); an outgoing call's
// socket lives on its caller worker. A recording made on the receiving end
// is sent here as one frame.
//
// A frame that cannot be read whole (the far end closed or reset inside it,
// or it announces more than kMaxFrameLength) is never played: the stream is no
// longer at a frame boundary, so the connection is closed and the station
// returns to idle as when the far end closes.

#include <memory>

#include "audio/RecordingSink.h"
#include "framework/sockets/CSocket.h"
#include "framework/sockets/CSocketFile.h"
#include "framework/streams/CArchive.h"

namespace chatterly {

class CallStation;

class CConnectionSocket : public CSocket, public RecordingSink {
  public:
    explicit CConnectionSocket(CallStation* station);
    ~CConnectionSocket() override;

    // Dispatches one waiting message of the thread and one waiting paint
    // request; returns false. The caller worker calls it between its polls.
    bool PumpWhileWaiting() override;

    // Sends one frame holding the file's bytes through a 4096-byte store
    // archive, flushed. A failing connection throws its FileError.
    void sendRecording(const std::vector<uint8_t>& wavFile) override;

    // Frames played on this connection (tests and diagnostics).
    size_t FramesPlayed() const { return framesPlayed_; }

  protected:
    void HandleReadable(int error) override;
    void HandlePeerClosed(int error) override;

  private:
    void ReadAndPlayOneFrame();
    void DropStream();
    // The far end left mid-frame: close, and go to idle as on its close.
    void AbandonCall();

    CallStation* station_;
    std::unique_ptr<CSocketFile> socketFile_;
    std::unique_ptr<CArchive> loadArchive_;
    size_t framesPlayed_ = 0;
};

}  // namespace chatterly
