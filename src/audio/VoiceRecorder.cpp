#include "audio/VoiceRecorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>

#include "framework/CArchive.h"
#include "framework/FileError.h"
#include "framework/MessageBox.h"

namespace chatterly {
namespace {

// Closes a descriptor when the read is left, also by an error.
struct Descriptor {
    int fd;
    ~Descriptor() { ::close(fd); }
};

}  // namespace

VoiceRecorder::VoiceRecorder(RecorderControls controls, RecordingDevice::Options device)
    : controls_(std::move(controls)), device_(std::move(device)) {}

bool VoiceRecorder::OpenRecorder() {
    if (device_.open() != RecordingDevice::Status::Ok) {
        MessageBox::show("Failed to open sound recording device");
        if (controls_.disableTalk) {
            controls_.disableTalk();
        }
        return false;
    }
    state_.deviceId = device_.id();
    state_.saveFileName = ScratchFileName;
    return true;
}

bool VoiceRecorder::StartRecording() {
    // Whatever the clear says (a first recording has nothing to delete, a
    // closed device refuses), the record follows and decides.
    device_.clear(0);
    if (device_.record() != RecordingDevice::Status::Ok) {
        device_.close();
        MessageBox::show("Failed to start recording.");
        if (controls_.uncheckTalk) {
            controls_.uncheckTalk();
        }
        return false;
    }
    return true;
}

bool VoiceRecorder::StopAndSaveRecording() {
    device_.stop();
    if (device_.save(ScratchFileName) != RecordingDevice::Status::Ok) {
        MessageBox::show("Failed to save voice recording to disk.");
        return false;
    }
    return true;
}

std::optional<std::vector<uint8_t>> VoiceRecorder::LoadRecording() {
    int fd;
    do {
        fd = ::open(ScratchFileName, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        MessageBox::show(std::string("Cannot find voice file ") + ScratchFileName);
        return std::nullopt;
    }
    Descriptor file{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        throw FileError(ScratchFileName, errno);
    }
    // A frame counts its bytes in 32 bits.
    if (info.st_size < 0 ||
        static_cast<uint64_t>(info.st_size) > std::numeric_limits<uint32_t>::max()) {
        throw FileError(ScratchFileName, EFBIG);
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t r = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {
            throw FileError(ScratchFileName, errno);
        }
        if (r == 0) {
            break;  // the file shrank under us: send what it holds
        }
        got += static_cast<size_t>(r);
    }
    bytes.resize(got);
    return bytes;
}

void VoiceRecorder::StopAndSendRecording(ByteStream* incoming) {
    if (!StopAndSaveRecording()) {
        return;
    }
    // Without a connection (it closed between press and release) there is
    // no one to send to; the recording is stopped and saved as on the calling
    // end, and nothing else happens.
    if (!incoming) {
        return;
    }
    std::optional<std::vector<uint8_t>> recording = LoadRecording();
    if (!recording) {
        return;
    }
    // One voice message frame: Reserved 0, Length, Data, all little-endian,
    // written field by field as the network layer's VoiceMessageFrame does
    // (audio sits below net, so it cannot call it). A write or flush that
    // fails throws FileError; the archive's destructor then drops the rest.
    CArchive archive(*incoming, CArchive::Mode::Store, 4096);
    archive.writeU32(0);
    archive.writeU32(static_cast<uint32_t>(recording->size()));
    archive.write(recording->data(), recording->size());
    recording.reset();
    archive.flush();
}

void VoiceRecorder::CloseRecorder() {
    device_.close();
    std::remove(ScratchFileName);
}

}  // namespace chatterly
