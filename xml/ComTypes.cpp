#include "ComTypes.h"

#include <cstdio>
#include <new>

#include "Errors.h"
#include "Text.h"

static std::string SystemMessage(HRESULT hr)
{
    const std::string text = SystemErrorText(static_cast<unsigned long>(hr));
    char code[16];
    snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    return text.empty() ? std::string("error ") + code : text + " (" + code + ")";
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

BString::BString(std::string_view utf8) : value_(Allocate(Widen(utf8)))
{
}

BString::BString(std::wstring_view utf16) : value_(Allocate(utf16))
{
}

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
