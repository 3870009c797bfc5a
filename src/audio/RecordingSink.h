#pragma once
// Where a finished recording goes, on either end of a call: the call's
// connection, which writes the file's bytes as one voice message frame (or
// queues them while it is busy). A connection that fails under the frame
// ends the call itself and says so.

#include <cstdint>
#include <vector>

namespace chatterly {

class RecordingSink {
  public:
    virtual ~RecordingSink() = default;
    virtual void sendRecording(const std::vector<uint8_t>& wavFile) = 0;
};

}  // namespace chatterly
