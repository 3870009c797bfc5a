#include "support/TestSupport.h"

#include <fcntl.h>
#include <pulse/simple.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "framework/threads/ThreadLoop.h"

namespace chatterly::test {

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    // done() often changes on another thread, with nothing to wake this one.
    ThreadLoop::Pump pump;
    pump.pass = std::chrono::milliseconds(5);
    return ThreadLoop::current().pumpUntil(done, ThreadLoop::Clock::now() + limit, pump);
}

void waitUntilQueued(ThreadLoop& loop) {
    ThreadLoop::Pump nothing;
    nothing.runs = ThreadLoop::Pump::Runs::Nothing;
    loop.pumpUntil([&] { return loop.hasMessage(); }, std::nullopt, nothing);
}

void dispatchAll(ThreadLoop& loop) {
    while (loop.dispatchOne()) {
    }
}

MessageBoxRecorder::MessageBoxRecorder() {
    MessageBox::setSeam([this](const MessageBoxRecord& record) {
        {
            std::lock_guard lock(mutex_);
            boxes_.push_back(record);
        }
        if (onShow) {
            onShow(record);
        }
    });
}

MessageBoxRecorder::~MessageBoxRecorder() {
    MessageBox::setSeam(nullptr);
}

std::vector<MessageBoxRecord> MessageBoxRecorder::boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
}

std::vector<std::string> MessageBoxRecorder::texts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& b : boxes_) {
        out.push_back(b.text);
    }
    return out;
}

size_t MessageBoxRecorder::count() const {
    std::lock_guard lock(mutex_);
    return boxes_.size();
}

void MessageBoxRecorder::clear() {
    std::lock_guard lock(mutex_);
    boxes_.clear();
}

LimitScope::LimitScope(int resource, uint64_t soft) : resource_(resource) {
    rlimit limit{};
    getrlimit(resource_, &limit);
    savedSoft_ = limit.rlim_cur;
    limit.rlim_cur = soft;
    setrlimit(resource_, &limit);
}

LimitScope::~LimitScope() {
    rlimit limit{};
    getrlimit(resource_, &limit);
    limit.rlim_cur = savedSoft_;
    setrlimit(resource_, &limit);
}

int lowestFreeDescriptor() {
    const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    close(fd);
    return fd;
}

ScratchDirectory::ScratchDirectory() {
    char buffer[PATH_MAX];
    previous_ = getcwd(buffer, sizeof buffer) ? buffer : "/";
    std::string pattern = (std::filesystem::temp_directory_path() / "chatterly-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
    std::filesystem::current_path(path_);
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
    std::filesystem::remove_all(path_, ec);
}

bool soundServerAvailable() {
    pa_sample_spec format{PA_SAMPLE_S16LE, 22050, 1};
    int error = 0;
    pa_simple* s = pa_simple_new(nullptr, "chatterly-test", PA_STREAM_PLAYBACK, nullptr, "probe",
                                 &format, nullptr, nullptr, &error);
    if (!s) {
        return false;
    }
    pa_simple_free(s);
    return true;
}

std::vector<uint8_t> fileBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void sendAsCaptured() {
    const std::string ini = "[Recording]\nCleanUp=off\n";
    writeFile("Chatterly.ini", std::vector<uint8_t>(ini.begin(), ini.end()));
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(i * 31 + seed + (i >> 8));
    }
    return v;
}

}  // namespace chatterly::test
