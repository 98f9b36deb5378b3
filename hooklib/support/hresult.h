#pragma once
#include <windows.h>

// The one exception type of the library: an HRESULT. The string layer raises E_OUTOFMEMORY when
// an allocation fails and E_INVALIDARG for an argument it cannot use; the panel raises
// E_OUTOFMEMORY for its own allocations.
class CHResultException {
public:
    explicit CHResultException(HRESULT hr) noexcept : m_hr(hr) {}
    HRESULT Error() const noexcept { return m_hr; }

private:
    HRESULT m_hr;
};

[[noreturn]] void ThrowHResult(HRESULT hr);

// Windows calls into us through window procedures, hook procedures, exports and COM methods.
// An exception that reaches one of those frames ends the process, and inside the shell that is
// the user's desktop, so every such entry runs its body through this and fails silently.
template <class TResult, class TBody>
TResult CallGuarded(TResult fallback, TBody&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}
