// The one shape of a test seam: a module's table of the platform calls Wine cannot be made to fail
// on demand. Each module declares `struct <Module>PlatformCalls` with one function pointer per call,
// all null by default; a null entry is the real call. Tests install fakes with a PlatformCallsScope,
// which puts the table back as it was when it ends, so a failing test never leaks a fake.
#pragma once

namespace qarv {

namespace detail {
// One table per module's type, all null (the real calls) until a scope installs another.
template <typename Calls>
Calls& InstalledPlatformCallsStorage() noexcept {
    static Calls calls{};
    return calls;
}
}  // namespace detail

// The table in use for `Calls`' module. Read by the module on every call.
template <typename Calls>
const Calls& InstalledPlatformCalls() noexcept {
    return detail::InstalledPlatformCallsStorage<Calls>();
}

// The installed replacement, or `real` when the entry is null.
template <typename Function>
Function ReplacedOrReal(Function replacement, Function real) noexcept {
    return replacement != nullptr ? replacement : real;
}

// Installs `replacements` for the scope's life (null entries stay the real calls) and restores the
// table it found on destruction. Set the table before starting any thread that makes the calls.
template <typename Calls>
class PlatformCallsScope {
public:
    explicit PlatformCallsScope(const Calls& replacements = Calls{}) noexcept
        : m_previous(detail::InstalledPlatformCallsStorage<Calls>()) {
        detail::InstalledPlatformCallsStorage<Calls>() = replacements;
    }
    PlatformCallsScope(const PlatformCallsScope&) = delete;
    PlatformCallsScope& operator=(const PlatformCallsScope&) = delete;
    ~PlatformCallsScope() { detail::InstalledPlatformCallsStorage<Calls>() = m_previous; }

    // The installed table, for a test that changes an entry part-way (null: the real call again).
    Calls& calls() noexcept { return detail::InstalledPlatformCallsStorage<Calls>(); }

private:
    Calls m_previous;
};

}  // namespace qarv
