// An engine module as the update client and tolvane-update --check read it before it may
// be staged: the headers of either kind, the section table, the export directory and its
// names, for the machine of each edition. Nothing read may reach outside the file; a file
// is a module of one kind at most, the kind its headers declare; and a module stays one
// with more bytes after it.
#include "update/update_file_check.h"

#include "fuzz_check.h"

#include <vector>

using namespace tolvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    bool i386 = IsPluginModuleImage(data, size, kMachineI386);
    bool amd64 = IsPluginModuleImage(data, size, kMachineAmd64);
    FUZZ_REQUIRE(!(i386 && amd64));
    if (!i386 && !amd64) return 0;
    std::uint16_t machine = i386 ? kMachineI386 : kMachineAmd64;
    std::optional<PeLayout> layout = ReadPeLayout(data, size);
    FUZZ_REQUIRE(layout && layout->IsFor(machine) && (layout->file.characteristics & kFileIsDll));
    FUZZ_REQUIRE(layout->IsPe32Plus() == amd64);
    std::vector<std::uint8_t> longer(data, data + size);
    longer.resize(size + 512, 0xCC);
    FUZZ_REQUIRE(IsPluginModuleImage(longer.data(), longer.size(), machine));
    return 0;
}
