// Move-only owners for Win32 handles: one policy template, one traits type per kind of handle.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <utility>

namespace qarv {

// Traits give the handle type, its invalid value and how to close it. Two kinds that share an
// integer type (HCRYPTPROV and HCRYPTHASH) get distinct traits, never overloads.
template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : m_handle(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const noexcept { return m_handle; }
    bool valid() const noexcept { return m_handle != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    Handle release() noexcept { return std::exchange(m_handle, Traits::Invalid()); }

    // Closing keeps GetLastError as it was, so a failure path can still report the first error.
    void reset(Handle handle = Traits::Invalid()) noexcept {
        if (valid()) {
            const DWORD lastError = GetLastError();
            Traits::Close(m_handle);
            SetLastError(lastError);
        }
        m_handle = handle;
    }

    // Resets, then hands out the address for an API that fills it.
    Handle* put() noexcept {
        reset();
        return &m_handle;
    }

private:
    Handle m_handle = Traits::Invalid();
};

struct KernelHandleTraits {  // NULL-invalid: processes, threads, snapshots of some APIs, tokens
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { CloseHandle(h); }
};

struct FileHandleTraits {  // INVALID_HANDLE_VALUE-invalid: files, tool-help snapshots
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { CloseHandle(h); }
};

struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { RegCloseKey(h); }
};

struct ModuleTraits {
    using Handle = HMODULE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { FreeLibrary(h); }
};

struct CryptProviderTraits {
    using Handle = HCRYPTPROV;
    static Handle Invalid() noexcept { return 0; }
    static void Close(Handle h) noexcept { CryptReleaseContext(h, 0); }
};

struct CryptHashTraits {
    using Handle = HCRYPTHASH;
    static Handle Invalid() noexcept { return 0; }
    static void Close(Handle h) noexcept { CryptDestroyHash(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueRegKey = UniqueHandle<RegistryKeyTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueCryptProvider = UniqueHandle<CryptProviderTraits>;
using UniqueCryptHash = UniqueHandle<CryptHashTraits>;

// Runs a one-off cleanup when the scope ends, unless released.
template <typename Fn>
class ScopeExit {
public:
    explicit ScopeExit(Fn fn) : m_fn(std::move(fn)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() {
        if (m_armed) m_fn();
    }
    void release() noexcept { m_armed = false; }

private:
    Fn m_fn;
    bool m_armed = true;
};

}  // namespace qarv
