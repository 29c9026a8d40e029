// "c:\kwrinfo.bin": the settings, the engine version and whether the three COM classes
// can be created, for a support contact to look at. Written when the program is started
// with "/D".
#pragma once

#include "settings/app_settings.h"

#include <windows.h>

#include <cstdint>

namespace tolvane {

#pragma pack(push, 1)

struct ComCheckRecord {
    std::int32_t scanEngineCreated;
    std::int32_t emailCreated;
    std::int32_t privacyEngineCreated;
    std::int32_t scanEngineResult;  // HRESULTs of the creation
    std::int32_t emailResult;
    std::int32_t privacyEngineResult;
};

struct DiagnosticRecord {
    AppSettings settings;
    EngineVersion engine;
    std::uint8_t reserved[516];
    ComCheckRecord comCheck;
};

#pragma pack(pop)

static_assert(sizeof(ComCheckRecord) == 24);
static_assert(sizeof(DiagnosticRecord) == 2776);
static_assert(offsetof(DiagnosticRecord, engine) == 2224);
static_assert(offsetof(DiagnosticRecord, comCheck) == 2752);

extern const char kDiagnosticFile[];  // c:\kwrinfo.bin

// The record as the file carries it: settings and engine version fresh from the registry
// (zero where a value is missing), and one creation attempt per class. COM must be
// initialised on the calling thread.
DiagnosticRecord CollectDiagnostics();
// Writes the file whole or not at all; false when it could not be written.
bool DiagnosticDump();

}  // namespace tolvane
