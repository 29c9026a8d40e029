// The ".plugins" section test: Bo2k servers and the families built on them carry their
// extension modules in a section of that name. The test reads the section table from the
// file and never loads it, since loading a module runs its code.
#pragma once

#include "pe_format.h"

#include "win32_subset.h"

#include <cstddef>
#include <cstdint>

namespace tolvane {

// How many bytes from the start of a file hold its headers up to the end of the section
// table, as far as `bytes` (the file's first bytes) tell: more than `size` when more must
// be read to know, 0 when the bytes are no PE image.
std::size_t PeHeaderExtent(const std::uint8_t* bytes, std::size_t size);

bool HasPluginsSection(const PeLayout& layout);

// Reads the headers of the open file, from wherever its position is.
bool FileHasPluginsSection(HANDLE file);

}  // namespace tolvane
