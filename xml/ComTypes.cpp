#include "ComTypes.h"

#include <cstdio>
#include <new>

#include "Errors.h"
#include "Text.h"

static std::string SystemMessage(HRESULT hr)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer != nullptr ? buffer : L"", length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' || text.back() == L'.'))
        text.pop_back();
    char code[16];
    snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    return text.empty() ? std::string("error ") + code : Narrow(text) + " (" + code + ")";
}

void CheckHResult(HRESULT hr, std::string_view what)
{
    if (FAILED(hr)) throw Exception(std::string(what) + ": " + SystemMessage(hr));
}

static BSTR Allocate(std::wstring_view utf16)
{
    BSTR value = SysAllocStringLen(utf16.data(), static_cast<UINT>(utf16.size()));
    if (value == nullptr) throw std::bad_alloc();
    return value;
}

BString::BString(std::string_view utf8) : value_(Allocate(Widen(utf8))) {}

BString::BString(std::wstring_view utf16) : value_(Allocate(utf16)) {}

BSTR* BString::Receive()
{
    SysFreeString(value_);
    value_ = nullptr;
    return &value_;
}

std::string BString::Utf8() const
{
    return Narrow(std::wstring_view(value_ != nullptr ? value_ : L"", SysStringLen(value_)));
}

Variant::Variant(IUnknown* object) : Variant()
{
    value_.vt = VT_UNKNOWN;
    value_.punkVal = object;
    if (object != nullptr) object->AddRef();
}

Variant::Variant(bool flag) : Variant()
{
    value_.vt = VT_BOOL;
    value_.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
}

VARIANT* Variant::Receive()
{
    VariantClear(&value_);
    return &value_;
}
