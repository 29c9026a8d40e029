// The few Win32 types, values and file reads that the byte readers name. Windows builds
// take them from <windows.h>; the native fuzzing build has no Windows headers and gets the
// same values here, with ReadFile and SetFilePointer served from memory by the fuzzer.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdint>

using BOOL = int;
using LONG = std::int32_t;
using DWORD = std::uint32_t;
using ULONG_PTR = std::uintptr_t;
using HANDLE = void*;
struct HKEY__;
using HKEY = HKEY__*;

constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD PAGE_WRITECOPY = 0x08;
constexpr DWORD PAGE_EXECUTE = 0x10;
constexpr DWORD PAGE_EXECUTE_READ = 0x20;
constexpr DWORD PAGE_EXECUTE_READWRITE = 0x40;
constexpr DWORD PAGE_EXECUTE_WRITECOPY = 0x80;
constexpr DWORD PAGE_NOCACHE = 0x200;

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;

BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, void* overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
#endif
