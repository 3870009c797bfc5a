#include "memory/StationMemory.h"

#include <sys/stat.h>

#include <algorithm>

#include "framework/streams/ArchiveEncodings.h"
#include "framework/streams/CArchive.h"
#include "framework/streams/FileError.h"
#include "framework/streams/FileStream.h"
#include "framework/streams/ReplacingFileStream.h"
#include "framework/widgets/MessageBox.h"
#include "memory/MemoryEntry.h"

namespace chatterly {
namespace {

constexpr size_t kArchiveBuffer = 4096;

// A pair of a remembered station takes at least this many bytes of the file
// (an address of seven characters, an alias of one, their prefixes).
constexpr uint64_t kShortestStationPair = 10;

// A count of pairs is checked against the rest of the file first: every pair
// takes at least two bytes (two empty strings). Room is made for the pairs at
// once, but never for more than the file could hold of real stations, so a
// count that lies costs no more than the file's own size.
void readMap(CArchive& ar, CMapStringToString& map, uint64_t fileSize) {
    const uint32_t pairs = ArchiveEncodings::readCount(ar);
    ar.RequireAvailable(uint64_t{pairs} * 2);
    map.Reserve(static_cast<size_t>(std::min<uint64_t>(pairs, fileSize / kShortestStationPair)));
    map.LoadPairs(pairs, [&](std::string& key, std::string& value) {
        ArchiveEncodings::readString(ar, key);
        ArchiveEncodings::readString(ar, value);
    });
}

void writeMap(CArchive& ar, const CMapStringToString& map) {
    ArchiveEncodings::writeCount(ar, map.GetCount());
    map.ForEach([&](const std::string& key, const std::string& value) {
        ArchiveEncodings::writeString(ar, key);
        ArchiveEncodings::writeString(ar, value);
    });
}

}  // namespace

StationMemory::StationMemory(std::string fileName) : fileName_(std::move(fileName)) {}

std::optional<std::vector<std::string>> StationMemory::LoadMemory() {
    // Only a regular file is a memory file: a directory, a FIFO or a device
    // of that name counts as a file that cannot be opened. The name is opened
    // once, without waiting, and the open file is what is checked and sized,
    // so nothing put under the name meanwhile is read or waited for.
    std::optional<FileStream> file;
    try {
        file.emplace(fileName_, FileStream::Mode::Read);
    } catch (const FileError&) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(file->descriptor(), &st) != 0) {
        return std::nullopt;
    }
    CArchive ar(*file, CArchive::Mode::Load, kArchiveBuffer);
    // The end-of-data report names no file: "an unnamed file".
    ar.SetErrorName({});
    ar.SetAvailable(static_cast<uint64_t>(st.st_size));

    std::vector<std::string> texts;
    {
        std::lock_guard guard(lock_);
        addressList_.RemoveAll();
        aliasByAddress_.RemoveAll();
        addressByAlias_.RemoveAll();

        // Every address takes at least its one-byte length prefix, so a count
        // beyond the rest of the file is refused before the list is sized.
        const uint32_t addresses = ArchiveEncodings::readCount(ar);
        ar.RequireAvailable(addresses);
        addressList_.SetSize(addresses);
        for (uint32_t i = 0; i < addresses; ++i) {
            ArchiveEncodings::readString(ar, addressList_[i]);
        }
        const auto fileSize = static_cast<uint64_t>(st.st_size);
        readMap(ar, aliasByAddress_, fileSize);
        readMap(ar, addressByAlias_, fileSize);
        texts = comboTexts();
    }
    ar.Close();
    file->close();
    return texts;
}

std::vector<std::string> StationMemory::comboTexts() const {
    std::vector<std::string> texts(addressList_.GetSize());
    aliasByAddress_.FindEach(
        addressList_.data(), addressList_.GetSize(),
        [&](size_t i, const std::string* alias) { texts[i] = alias ? *alias : addressList_[i]; });
    return texts;
}

void StationMemory::SaveMemory() {
    // Only the GUI thread changes the collections, and this runs on it: no
    // lock is needed to read them here.
    try {
        ReplacingFileStream file(fileName_);
        CArchive ar(file, CArchive::Mode::Store, kArchiveBuffer);
        ArchiveEncodings::writeCount(ar, addressList_.GetSize());
        for (const std::string& address : addressList_) {
            ArchiveEncodings::writeString(ar, address);
        }
        writeMap(ar, aliasByAddress_);
        writeMap(ar, addressByAlias_);
        ar.Close();
        file.commit();
    } catch (const FileError&) {
        MessageBox::show("Failed to open Parlio.mem to save memory.");
    }
}

std::vector<std::string> StationMemory::rebuildFromEntries(const CStringArray& entries) {
    std::vector<std::string> texts;
    texts.reserve(entries.GetSize());
    std::lock_guard guard(lock_);
    addressList_.RemoveAll();
    aliasByAddress_.RemoveAll();
    addressByAlias_.RemoveAll();
    for (const std::string& entry : entries) {
        MemoryEntry::Parts parts = MemoryEntry::forApply(entry);
        if (parts.alias) {
            aliasByAddress_.SetAt(parts.address, *parts.alias);
            addressByAlias_.SetAt(*parts.alias, parts.address);
        }
        texts.push_back(parts.alias && !parts.alias->empty() ? *parts.alias : parts.address);
        addressList_.Add(std::move(parts.address));
    }
    return texts;
}

std::string StationMemory::resolveRemote(const std::string& text) const {
    std::lock_guard guard(lock_);
    return addressByAlias_.Lookup(text).value_or(text);
}

std::string StationMemory::callerName(const std::string& address) const {
    std::lock_guard guard(lock_);
    return aliasByAddress_.Lookup(address).value_or(address);
}

}  // namespace chatterly
