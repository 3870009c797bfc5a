#include "framework/ThreadLoop.h"

#include <memory>

#include "framework/WorkerLoop.h"

namespace chatterly {
namespace {

thread_local ThreadLoop* installed = nullptr;

}  // namespace

ThreadLoop& ThreadLoop::current() {
    if (installed) {
        return *installed;
    }
    thread_local std::unique_ptr<WorkerLoop> own = std::make_unique<WorkerLoop>();
    return *own;
}

void ThreadLoop::install(ThreadLoop* loop) {
    installed = loop;
}

}  // namespace chatterly
