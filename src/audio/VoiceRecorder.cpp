#include "audio/VoiceRecorder.h"

#include <cstdio>

#include "framework/streams/FileError.h"
#include "framework/streams/FileStream.h"
#include "framework/threads/ThreadLoop.h"
#include "framework/widgets/MessageBox.h"
#include "framework/widgets/StatusLine.h"

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
    const RecordingDevice::Status status = device_.save(image);
    nothingSaid_ = status == RecordingDevice::Status::NoVoice;
    if (nothingSaid_) {
        std::remove(kScratchFileName);  // no earlier recording stands for this one
        StatusLine::post("Nothing was said; no message sent");
        return false;
    }
    bool written = status == RecordingDevice::Status::Ok;
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

VoiceRecorder::Release VoiceRecorder::StopAndSendRecording(RecordingSink* connection) {
    Release release = Release::NotSent;
    // Without a connection (it closed between press and release) there is
    // no one to send to; the recording is stopped and saved as on the calling
    // end, and nothing else happens.
    if (StopAndSaveRecording() && connection) {
        if (std::optional<std::vector<uint8_t>> recording = LoadRecording()) {
            connection->sendRecording(*recording);
            release = Release::Sent;
        }
    } else if (nothingSaid_) {
        release = Release::NothingSaid;
    }
    lastRelease_ = release;
    ++releases_;
    return release;
}

std::optional<VoiceRecorder::Release> VoiceRecorder::releaseAfter(
    uint64_t count, const std::function<bool()>& pending, std::chrono::milliseconds limit) {
    ThreadLoop::Pump requestsOnly;
    requestsOnly.runs = ThreadLoop::Pump::Runs::Nothing;
    ThreadLoop::current().pumpUntil([&] { return releases_ > count || !pending(); },
                                    ThreadLoop::Clock::now() + limit, requestsOnly);
    return releases_ > count ? std::optional<Release>(lastRelease_) : std::nullopt;
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
