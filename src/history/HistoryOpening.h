#pragma once
// The opening of a message history for its store (HistoryStore): the
// directory made or checked (a folder of the user's own, never a link), the
// index opened (a newer one read-only), a damaged index moved aside with its
// journal and a new one begun, and a writable index mended from the files:
// a station's file without a row is adopted, a row without a file dropped.
// It runs once, before the store is shared, and never throws: what went
// wrong, or is worth a notice, is told by error().

#include <cstdint>
#include <memory>
#include <string>

#include "history/HistoryStore.h"

namespace chatterly {

class HistoryIndex;

class HistoryOpening {
  public:
    static constexpr const char* kIndexName = "index.sqlite";
    // The largest image read back: far beyond any message, short of
    // exhausting the memory on a file that grew by mistake.
    static constexpr uint64_t kImageLimit = 256ull << 20;

    // Opens by the store's options (which must outlive it).
    explicit HistoryOpening(const HistoryStore::Options& options);
    ~HistoryOpening();
    HistoryOpening(const HistoryOpening&) = delete;
    HistoryOpening& operator=(const HistoryOpening&) = delete;

    // Opens and mends at nowMs (UTC ms, the stamp a damaged index moved
    // aside carries); the index, or null when the store is to keep nothing.
    std::unique_ptr<HistoryIndex> open(int64_t nowMs);
    // Why the store keeps nothing, or a notice about its opening; empty when
    // fine.
    const std::string& error() const { return error_; }

  private:
    // Makes the directory, or checks the one there; false (error_ set) when
    // it is not a directory of its own.
    bool openDirectory();
    // Opens the index: a damaged one is moved aside and a new one begun, a
    // newer one opened read-only. Mends when writable.
    void openIndex();
    // Moves the damaged index (closed) aside with its journal, begins a new
    // one and mends it from the files.
    void replaceDamagedIndex();
    // Adopts the station's files without rows and drops rows without files.
    void mend();
    std::string pathOf(const std::string& fileName) const;

    const HistoryStore::Options& options_;
    std::unique_ptr<HistoryIndex> index_;  // null when unusable
    std::string error_;
    int64_t nowMs_ = 0;
};

}  // namespace chatterly
