// What a downloaded file must be before it may replace the one in use: the update server's
// answer is untrusted, and a "200" with an error page or a cut file in place of tsigs.kws
// would stop the next start, in place of a module would stop the program for good.
#pragma once

#include "pe_format.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvane {

enum class DownloadKind {
    VersionFile,        // read by the comparison, which refuses what it cannot read
    TrojanSignatures,   // tsigs.kws
    PrivacySignatures,  // psigs.kws
    EngineModule,       // kwreng32.dl_, hyseng32.dl_
};

// Where the engine modules for `machine` lie under the update path: the 32-bit edition's
// at its top, where every 32-bit client has always read them, the 64-bit edition's in the
// subfolder "x64/", each with its ".sig" beside it. tsigs.ini and the signature files are
// the same for both editions, and so are the engine numbers in tsigs.ini.
constexpr const char* EngineModuleFolder(std::uint16_t machine) { return machine == kMachineAmd64 ? "x64/" : ""; }

// True when the file at `path` is usable as `kind`: a signature file reads whole with the
// engines' own reader (its magic, every entry it announces, and for psigs.kws every
// registry record); an engine module is a PE DLL of `machine` (i386 and PE32, or AMD64
// and PE32+) that exports the seven plug-in functions. The module is read from the file,
// never loaded. The client asks for its own kind: a module of the other edition staged
// into an installation would never load again.
bool IsUsableDownload(const std::string& path, DownloadKind kind, std::uint16_t machine = kNativeMachine);

// The module test on the file's bytes, for a module built for `machine`.
bool IsPluginModuleImage(const std::uint8_t* bytes, std::size_t size, std::uint16_t machine);

}  // namespace tolvane
