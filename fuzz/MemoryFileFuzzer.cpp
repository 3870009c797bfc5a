// The memory file loader: the input is "Parlio.mem" in a scratch directory.
// A file that loads is saved (as a new file: the input is removed first) and
// loaded again, which must give the same stations; saving and loading once
// more must give the first save's bytes again (a load puts each key at the
// head of its chain, so one round trip reverses the chains and a second
// restores them). A damaged file may only end the load with a FrameworkError;
// a save must never fail.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "framework/streams/FrameworkError.h"
#include "framework/widgets/MessageBox.h"
#include "memory/StationMemory.h"

namespace chatterly::fuzz {
namespace {

using Bytes = std::vector<char>;

// The scratch directory on a memory file system when there is one, so that
// the saves' flushes to the disk cost nothing.
std::string makeScratchDirectory() {
    std::filesystem::path base = "/dev/shm";
    if (access(base.c_str(), W_OK) != 0) {
        base = std::filesystem::temp_directory_path();
    }
    std::string name = (base / "chatterly-fuzz-memory-XXXXXX").string();
    require(mkdtemp(name.data()) != nullptr, "the scratch directory can be made");
    static std::string removeAtExit;
    removeAtExit = name;
    std::atexit([] { std::filesystem::remove_all(removeAtExit); });
    return name;
}

Bytes fileBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::map<std::string, std::string> pairs(const CMapStringToString& map) {
    std::map<std::string, std::string> out;
    map.ForEach([&](const std::string& k, const std::string& v) { out[k] = v; });
    require(out.size() == map.GetCount(), "a map visits each of its keys once");
    return out;
}

bool sameStations(const StationMemory& a, const StationMemory& b) {
    return std::equal(a.AddressList().begin(), a.AddressList().end(), b.AddressList().begin(),
                      b.AddressList().end()) &&
           pairs(a.AliasByAddress()) == pairs(b.AliasByAddress()) &&
           pairs(a.AddressByAlias()) == pairs(b.AddressByAlias());
}

// Loads the file into memory; false when the load raised a FrameworkError.
bool load(StationMemory& memory) {
    std::optional<std::vector<std::string>> texts;
    try {
        texts = memory.LoadMemory();
    } catch (const FrameworkError&) {
        return false;
    }
    require(texts.has_value(), "a regular file is opened");
    require(texts->size() == memory.AddressList().GetSize(), "one combo text per address");
    for (size_t i = 0; i < texts->size(); ++i) {
        const std::string& address = memory.AddressList()[i];
        require((*texts)[i] == memory.AliasByAddress().Lookup(address).value_or(address),
                "a combo text is the address's alias, else the address");
    }
    return true;
}

}  // namespace
}  // namespace chatterly::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    chatterly::MessageBox::setSeam([](const chatterly::MessageBoxRecord& box) {
        std::fprintf(stderr, "message box: %s\n", box.text.c_str());
        chatterly::fuzz::require(false, "a save shows no message box");
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace chatterly;
    using namespace chatterly::fuzz;
    static const std::string file = makeScratchDirectory() + "/" + StationMemory::kFileName;
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        require(out.good(), "the input file can be written");
    }
    StationMemory first(file);
    if (!load(first)) {
        return 0;
    }
    std::filesystem::remove(file);
    first.SaveMemory();
    const Bytes saved = fileBytes(file);

    StationMemory second(file);
    require(load(second), "a saved memory loads");
    require(sameStations(first, second), "a saved memory loads the same stations");
    second.SaveMemory();
    require(fileBytes(file).size() == saved.size(), "a reloaded memory saves as many bytes");

    StationMemory third(file);
    require(load(third), "a saved memory loads");
    third.SaveMemory();
    require(fileBytes(file) == saved, "two round trips save the first save's bytes");
    return 0;
}
