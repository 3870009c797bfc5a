#pragma once
// The station memory: the remote stations the user calls, as an ordered
// address list and two alias maps, kept in the file "Parlio.mem" of the
// working directory. The station owns one (the calls share it, to look
// aliases up from any thread); it is loaded once at start and rebuilt and
// saved after each confirmed memory dialog.
//
// The file is three sections back to back, little-endian, no header: the
// address list (a count, then that many strings), AliasByAddress and
// AddressByAlias (each a count, then key and value strings in the map's chain
// order). Counts and strings are the archive's encodings (ArchiveEncodings).
//
// Only the GUI thread changes the memory (LoadMemory, rebuildFromEntries), so
// it may read the collections directly. resolveRemote and callerName may be
// called from any thread: they and the writers share a lock.

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "framework/streams/CMapStringToString.h"
#include "framework/streams/CStringArray.h"

namespace chatterly {

class StationMemory {
  public:
    static constexpr const char* kFileName = "Parlio.mem";

    // fileName is relative to the working directory unless absolute.
    explicit StationMemory(std::string fileName = kFileName);

    StationMemory(const StationMemory&) = delete;
    StationMemory& operator=(const StationMemory&) = delete;

    const CStringArray& AddressList() const { return addressList_; }
    const CMapStringToString& AliasByAddress() const { return aliasByAddress_; }
    const CMapStringToString& AddressByAlias() const { return addressByAlias_; }

    // Reads the file into the three collections, which it first empties.
    // - The file cannot be opened (missing, not a regular file, no access):
    //   returns std::nullopt at once, silently; the memory is unchanged and the
    //   station leaves its combo box alone.
    // - The file was read: returns the texts the station puts into its emptied
    //   remote-station combo box, one per address in list order: the address's
    //   alias when AliasByAddress holds the address (even an empty alias), else
    //   the address.
    // - The data end early, or a count or length announces more than the rest
    //   of the file can hold: throws ArchiveError(EndOfFile), whose report reads
    //   "An attempt was made to access an unnamed file past its end.". What was
    //   read stays: the address list has its announced number of elements
    //   (those not yet read empty; none when the count itself was impossible),
    //   the maps hold the pairs read so far. The combo box is not filled. The
    //   error is left to the generic error report of the handler's dispatch.
    // - A read error of the file: throws FileError, with the same outcome.
    // Bytes after the third section are ignored; sections that disagree load
    // as they stand; a key that occurs twice keeps its later value.
    std::optional<std::vector<std::string>> LoadMemory();

    // Writes the three collections to the file, replacing it as a whole: the
    // bytes go to a new file beside it, which is flushed to the disk and then
    // renamed over the old one. When the new file cannot be created, written,
    // flushed or renamed (no access, a full disk), shows "Failed to open
    // Parlio.mem to save memory." and returns; the old file stays as it was
    // and the collections keep their contents.
    void SaveMemory();

    // After a confirmed memory dialog: empties the three collections and
    // re-inserts the stations of entries (the dialog's EntryList, in list
    // order). An entry without "==" is an address without alias; otherwise its
    // alias starts 3 characters after the first "==" and its address is the
    // text before the first '=', trailing white space removed, and both maps
    // get the pair. Returns the texts for the emptied combo box (items and edit
    // text): one per entry, its alias when not empty, else its address. The
    // station then calls SaveMemory.
    std::vector<std::string> rebuildFromEntries(const CStringArray& entries);

    // The target of an outgoing call: the address that AddressByAlias maps the
    // typed text to, else the text itself. Exact, case-sensitive. Any thread.
    std::string resolveRemote(const std::string& text) const;
    // The name of an incoming caller: its alias from AliasByAddress, else its
    // address. Any thread.
    std::string callerName(const std::string& address) const;

    const std::string& fileName() const { return fileName_; }

  private:
    std::vector<std::string> comboTexts() const;

    std::string fileName_;
    mutable std::mutex lock_;  // writers against the any-thread lookups
    CStringArray addressList_;
    CMapStringToString aliasByAddress_;
    CMapStringToString addressByAlias_;
};

}  // namespace chatterly
