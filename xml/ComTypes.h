// Owners for the COM values the XML document passes across the MSXML boundary: interface pointers, BSTR and
// VARIANT, and the translation of a failed HRESULT into an exception.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

// Raises Exception("<what>: <system text for hr>") when hr is a failure code.
void CheckHResult(HRESULT hr, std::string_view what);

// A BSTR owned by this object; converts from and to UTF-8.
class BString {
public:
    BString() = default;
    explicit BString(std::string_view utf8);
    explicit BString(std::wstring_view utf16);
    ~BString() { SysFreeString(value_); }

    BString(BString&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
    BString& operator=(BString&& other) noexcept
    {
        std::swap(value_, other.value_);
        return *this;
    }
    BString(const BString&) = delete;
    BString& operator=(const BString&) = delete;

    BSTR Get() const { return value_; }
    BSTR* Receive();  // frees the current value; for out parameters
    std::string Utf8() const;

private:
    BSTR value_ = nullptr;
};

// A VARIANT cleared when it goes out of scope.
class Variant {
public:
    Variant() { VariantInit(&value_); }
    explicit Variant(IUnknown* object);  // holds its own reference
    explicit Variant(bool flag);
    ~Variant() { VariantClear(&value_); }

    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    const VARIANT& Get() const { return value_; }
    VARIANT* Receive();  // clears the current value; for out parameters

private:
    VARIANT value_;
};
