#pragma once
// A private session bus for one test: a dbus-daemon of its own, started with
// a plain fork (the thread checker cannot follow the vfork-like start
// QProcess uses) and ended with the object, or with the test process.

#include <sys/types.h>

#include <QByteArray>

namespace chatterly::test {

class PrivateSessionBus {
  public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // The bus's address; empty when no dbus-daemon could be started.
    QByteArray address() const { return address_; }

  private:
    pid_t pid_ = -1;
    QByteArray address_;
};

}  // namespace chatterly::test
