#pragma once
#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

// Owns one reference on a COM interface. Release clears the field before it lets go, so code
// re-entered from the released object never sees a pointer that is on its way out.
template <class T>
class CComPtr {
public:
    CComPtr() noexcept = default;
    CComPtr(const CComPtr&) = delete;
    CComPtr& operator=(const CComPtr&) = delete;
    ~CComPtr() { Release(); }

    void Release() noexcept
    {
        T* held = m_p;
        m_p = nullptr;
        if (held)
            held->Release();
    }

    // Takes over a reference that the caller already owns.
    void Attach(T* p) noexcept
    {
        Release();
        m_p = p;
    }

    // Stores `p` with a reference of its own.
    void Assign(T* p) noexcept
    {
        if (p)
            p->AddRef();
        Attach(p);
    }

    // For out parameters: whatever was held is released first.
    T** Receive() noexcept
    {
        Release();
        return &m_p;
    }

    void** ReceiveVoid() noexcept { return reinterpret_cast<void**>(Receive()); }

    T* Get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

// Owns one BSTR.
class CBstr {
public:
    CBstr() noexcept = default;
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    ~CBstr() { Free(); }

    void Free() noexcept
    {
        BSTR held = m_bstr;
        m_bstr = nullptr;
        SysFreeString(held);
    }

    void Attach(BSTR bstr) noexcept
    {
        Free();
        m_bstr = bstr;
    }

    BSTR Detach() noexcept
    {
        BSTR bstr = m_bstr;
        m_bstr = nullptr;
        return bstr;
    }

    BSTR* Receive() noexcept
    {
        Free();
        return &m_bstr;
    }

    BSTR Get() const noexcept { return m_bstr; }

private:
    BSTR m_bstr = nullptr;
};

// Owns one VARIANT: cleared on destruction.
class CVariant {
public:
    CVariant() noexcept { VariantInit(&m_value); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;
    ~CVariant() { VariantClear(&m_value); }

    VARIANT* Get() noexcept { return &m_value; }
    const VARIANT* Get() const noexcept { return &m_value; }

private:
    VARIANT m_value;
};
