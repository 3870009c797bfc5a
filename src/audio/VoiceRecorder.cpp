#include "audio/VoiceRecorder.h"

#include <cstdio>

#include "framework/streams/FileError.h"
#include "framework/streams/FileStream.h"
#include "framework/widgets/MessageBox.h"

namespace chatterly {

VoiceRecorder::VoiceRecorder(std::shared_ptr<RecorderControls> controls,
                             RecordingDevice::Options device)
    : controls_(std::move(controls)), device_(std::move(device)) {}

bool VoiceRecorder::OpenRecorder() {
    if (device_.open() != RecordingDevice::Status::Ok) {
        MessageBox::show("Failed to open sound recording device");
        if (controls_) {
            controls_->disableTalk();
        }
        return false;
    }
    state_.deviceId = device_.id();
    state_.saveFileName = kScratchFileName;
    return true;
}

bool VoiceRecorder::StartRecording() {
    // Whatever the clear says (a first recording has nothing to delete, a
    // closed device refuses), the record follows and decides.
    device_.clear(0);
    if (device_.record() != RecordingDevice::Status::Ok) {
        device_.close();
        MessageBox::show("Failed to start recording.");
        if (controls_) {
            controls_->uncheckTalk();
        }
        return false;
    }
    return true;
}

bool VoiceRecorder::StopAndSaveRecording() {
    device_.stop();
    saved_.reset();
    std::vector<uint8_t> image;
    bool written = device_.save(image) == RecordingDevice::Status::Ok;
    if (written) {
        try {
            FileStream file(kScratchFileName, FileStream::Mode::Scratch);
            file.write(image.data(), image.size());
            file.close();
        } catch (const FileError&) {
            written = false;
        }
    }
    if (!written) {
        MessageBox::show("Failed to save voice recording to disk.");
        return false;
    }
    saved_ = std::move(image);
    return true;
}

std::optional<std::vector<uint8_t>> VoiceRecorder::LoadRecording() {
    if (!saved_) {
        MessageBox::show(std::string("Cannot find voice file ") + kScratchFileName);
        return std::nullopt;
    }
    std::optional<std::vector<uint8_t>> recording = std::move(saved_);
    saved_.reset();
    return recording;
}

void VoiceRecorder::StopAndSendRecording(RecordingSink* connection) {
    if (!StopAndSaveRecording()) {
        return;
    }
    // Without a connection (it closed between press and release) there is
    // no one to send to; the recording is stopped and saved as on the calling
    // end, and nothing else happens.
    if (!connection) {
        return;
    }
    if (std::optional<std::vector<uint8_t>> recording = LoadRecording()) {
        connection->sendRecording(*recording);
    }
}

void VoiceRecorder::dropRecording() {
    if (device_.isRecording()) {
        device_.clear(0);
    }
}

void VoiceRecorder::CloseRecorder() {
    device_.close();
    saved_.reset();
    std::remove(kScratchFileName);
}

}  // namespace chatterly
