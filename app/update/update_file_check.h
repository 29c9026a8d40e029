// What a downloaded file must be before it may replace the one in use: the update server's
// answer is untrusted, and a "200" with an error page or a cut file in place of tsigs.kws
// would stop the next start, in place of a module would stop the program for good.
#pragma once

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

// True when the file at `path` is usable as `kind`: a signature file reads whole with the
// engines' own reader (its magic, every entry it announces, and for psigs.kws every
// registry record); an engine module is a 32-bit PE DLL that exports the seven plug-in
// functions. The module is read from the file, never loaded.
bool IsUsableDownload(const std::string& path, DownloadKind kind);

// The module test on the file's bytes.
bool IsPluginModuleImage(const std::uint8_t* bytes, std::size_t size);

}  // namespace tolvane
