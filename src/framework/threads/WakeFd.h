#pragma once
// A wake-up descriptor: an eventfd that any thread signals and the owning
// thread's loop polls or watches. The owner drains it after waking, then looks
// at whatever the signal was for; a signal that comes meanwhile wakes it again.

namespace chatterly {

class WakeFd {
  public:
    WakeFd();
    ~WakeFd();
    WakeFd(const WakeFd&) = delete;
    WakeFd& operator=(const WakeFd&) = delete;

    // Readable from signal() until drain().
    int fd() const { return fd_; }
    // Any thread.
    void signal();
    void drain();

  private:
    int fd_;
};

}  // namespace chatterly
