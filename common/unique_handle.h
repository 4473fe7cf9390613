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

struct FindHandleTraits {  // FindFirstFile's searches: INVALID_HANDLE_VALUE-invalid, closed by FindClose
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { FindClose(h); }
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

// Memory the system allocates with LocalAlloc for the caller (SID and security descriptor text
// conversions), typed as the call hands it out.
template <typename Pointee>
struct LocalMemoryTraits {
    using Handle = Pointee*;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { LocalFree(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;
template <typename Pointee = void>
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits<Pointee>>;
using UniqueRegKey = UniqueHandle<RegistryKeyTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueCryptProvider = UniqueHandle<CryptProviderTraits>;
using UniqueCryptHash = UniqueHandle<CryptHashTraits>;

// Both handles CreateProcess returns: the process and its first thread, each closed once.
class UniqueProcessInformation {
public:
    UniqueProcessInformation() noexcept = default;
    UniqueProcessInformation(const UniqueProcessInformation&) = delete;
    UniqueProcessInformation& operator=(const UniqueProcessInformation&) = delete;
    UniqueProcessInformation(UniqueProcessInformation&& other) noexcept : m_info(other.release()) {}
    UniqueProcessInformation& operator=(UniqueProcessInformation&& other) noexcept {
        if (this != &other) {
            reset();
            m_info = other.release();
        }
        return *this;
    }
    ~UniqueProcessInformation() { reset(); }

    HANDLE process() const noexcept { return m_info.hProcess; }
    HANDLE thread() const noexcept { return m_info.hThread; }
    DWORD processId() const noexcept { return m_info.dwProcessId; }

    PROCESS_INFORMATION release() noexcept { return std::exchange(m_info, PROCESS_INFORMATION{}); }

    void reset() noexcept {
        const PROCESS_INFORMATION info = release();
        UniqueKernelHandle thread(info.hThread);
        UniqueKernelHandle process(info.hProcess);
    }

    // Resets, then hands out the record for CreateProcess to fill.
    PROCESS_INFORMATION* put() noexcept {
        reset();
        return &m_info;
    }

private:
    PROCESS_INFORMATION m_info{};
};

// An FDI context, destroyed through the FDIDestroy of the Cabinet.dll that created it: the library
// is loaded at run time, so the owner keeps that entry beside the context. Declared without
// <fdi.h> (HFDI is an opaque pointer, DIAMONDAPI is cdecl) so that includers need no cabinet header.
class UniqueFdiContext {
public:
    using Context = void*;
    using DestroyFunction = BOOL(__cdecl*)(Context context);

    UniqueFdiContext() noexcept = default;
    UniqueFdiContext(Context context, DestroyFunction destroy) noexcept : m_context(context), m_destroy(destroy) {}
    UniqueFdiContext(const UniqueFdiContext&) = delete;
    UniqueFdiContext& operator=(const UniqueFdiContext&) = delete;
    UniqueFdiContext(UniqueFdiContext&& other) noexcept
        : m_context(std::exchange(other.m_context, nullptr)), m_destroy(std::exchange(other.m_destroy, nullptr)) {}
    UniqueFdiContext& operator=(UniqueFdiContext&& other) noexcept {
        if (this != &other) {
            reset();
            m_context = std::exchange(other.m_context, nullptr);
            m_destroy = std::exchange(other.m_destroy, nullptr);
        }
        return *this;
    }
    ~UniqueFdiContext() { reset(); }

    Context get() const noexcept { return m_context; }
    explicit operator bool() const noexcept { return m_context != nullptr; }

    void reset() noexcept {
        const Context context = std::exchange(m_context, nullptr);
        const DestroyFunction destroy = std::exchange(m_destroy, nullptr);
        if (context != nullptr && destroy != nullptr) {
            const DWORD lastError = GetLastError();
            destroy(context);
            SetLastError(lastError);
        }
    }

private:
    Context m_context = nullptr;
    DestroyFunction m_destroy = nullptr;
};

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
