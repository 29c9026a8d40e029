// Ownership of Win32 handles as types, after the unique_any idea: one move-only
// template, one alias per kind of handle, and scope_exit for the rare clean-up that is
// not a handle.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace tolvane {

template <typename T, typename Close, T Invalid()>
class unique_any {
public:
    unique_any() noexcept = default;
    explicit unique_any(T value) noexcept : value_(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    T get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    void reset(T value = Invalid()) noexcept {
        if (valid()) Close()(value_);
        value_ = value;
    }
    T release() noexcept { return std::exchange(value_, Invalid()); }
    // Resets first, so an out parameter never overwrites a live handle.
    T* put() noexcept {
        reset();
        return &value_;
    }

private:
    T value_ = Invalid();
};

namespace detail {
template <typename T> constexpr T null_value() { return T(); }
inline HANDLE invalid_handle_value() { return INVALID_HANDLE_VALUE; }
inline SOCKET invalid_socket_value() { return INVALID_SOCKET; }

struct close_handle { void operator()(HANDLE h) const { ::CloseHandle(h); } };
struct close_find { void operator()(HANDLE h) const { ::FindClose(h); } };
struct close_key { void operator()(HKEY k) const { ::RegCloseKey(k); } };
struct free_library { void operator()(HMODULE m) const { ::FreeLibrary(m); } };
struct unmap_view { void operator()(void* p) const { ::UnmapViewOfFile(p); } };
struct free_virtual { void operator()(void* p) const { ::VirtualFree(p, 0, MEM_RELEASE); } };
struct close_socket { void operator()(SOCKET s) const { ::closesocket(s); } };
struct free_bstr { void operator()(BSTR s) const { ::SysFreeString(s); } };
struct destroy_icon { void operator()(HICON i) const { ::DestroyIcon(i); } };
struct delete_gdi { void operator()(HGDIOBJ o) const { ::DeleteObject(o); } };
struct destroy_window { void operator()(HWND w) const { ::DestroyWindow(w); } };
struct free_global { void operator()(HGLOBAL g) const { ::GlobalFree(g); } };
}  // namespace detail

using unique_handle = unique_any<HANDLE, detail::close_handle, detail::null_value<HANDLE>>;
using unique_file = unique_any<HANDLE, detail::close_handle, detail::invalid_handle_value>;
using unique_find = unique_any<HANDLE, detail::close_find, detail::invalid_handle_value>;
using unique_hkey = unique_any<HKEY, detail::close_key, detail::null_value<HKEY>>;
using unique_hmodule = unique_any<HMODULE, detail::free_library, detail::null_value<HMODULE>>;
using unique_view = unique_any<void*, detail::unmap_view, detail::null_value<void*>>;
using unique_virtual = unique_any<void*, detail::free_virtual, detail::null_value<void*>>;
using unique_socket = unique_any<SOCKET, detail::close_socket, detail::invalid_socket_value>;
using unique_bstr = unique_any<BSTR, detail::free_bstr, detail::null_value<BSTR>>;
using unique_hicon = unique_any<HICON, detail::destroy_icon, detail::null_value<HICON>>;
using unique_gdi = unique_any<HGDIOBJ, detail::delete_gdi, detail::null_value<HGDIOBJ>>;
using unique_hwnd = unique_any<HWND, detail::destroy_window, detail::null_value<HWND>>;
using unique_hglobal = unique_any<HGLOBAL, detail::free_global, detail::null_value<HGLOBAL>>;

template <typename F>
class scope_exit_t {
public:
    explicit scope_exit_t(F f) : f_(std::move(f)) {}
    scope_exit_t(const scope_exit_t&) = delete;
    scope_exit_t& operator=(const scope_exit_t&) = delete;
    ~scope_exit_t() { if (armed_) f_(); }
    void release() noexcept { armed_ = false; }

private:
    F f_;
    bool armed_ = true;
};

template <typename F>
[[nodiscard]] scope_exit_t<F> scope_exit(F f) { return scope_exit_t<F>(std::move(f)); }

}  // namespace tolvane

#define RETURN_IF_FAILED(expr)                  \
    do {                                        \
        HRESULT hr_ = (expr);                   \
        if (FAILED(hr_)) return hr_;            \
    } while (0)
