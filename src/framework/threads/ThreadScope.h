#pragma once
// A nesting, per-thread mark: active on a thread while at least one scope of
// its kind exists there. Each Tag is a kind of its own (the error report's
// discard scope, the loops' network hold).

namespace chatterly {

template <typename Tag>
class ThreadScope {
  public:
    ThreadScope() { ++depth(); }
    ~ThreadScope() { --depth(); }
    ThreadScope(const ThreadScope&) = delete;
    ThreadScope& operator=(const ThreadScope&) = delete;

    static bool active() { return depth() > 0; }

  private:
    static int& depth() {
        thread_local int scopes = 0;
        return scopes;
    }
};

}  // namespace chatterly
