// The ".plugins" section test on a suspect file. It reads the headers from the file in
// up to three rounds; its answer must be the one the whole file's headers give, however
// the reads arrive.
#include "memory_file.h"
#include "plugins_section.h"

#include "fuzz_check.h"

using namespace tolvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto layout = ReadPeLayout(data, size);
    const bool expected = layout && HasPluginsSection(*layout);

    std::size_t extent = PeHeaderExtent(data, size);
    if (extent != 0 && extent <= size) {
        // The headers end where the extent says: the bytes up to it give the same layout.
        auto head = ReadPeLayout(data, extent);
        FUZZ_REQUIRE(head.has_value() == layout.has_value());
        if (head) FUZZ_REQUIRE(head->sections.size() == layout->sections.size());
    }
    if (layout) FUZZ_REQUIRE(extent != 0 && extent <= size);

    for (std::size_t chunk : {std::size_t(0), 1 + size % 61}) {
        fuzz::MemoryFile file(data, size, chunk);
        file.Seek(size / 2);  // the test reads from the start, wherever the file stood
        FUZZ_REQUIRE(FileHasPluginsSection(file.Handle()) == expected);
    }
    return 0;
}
