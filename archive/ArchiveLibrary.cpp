#include "ArchiveLibrary.h"

#include "Paths.h"
#include "Text.h"
#include "infozip_api.h"

EArchiveNameError::EArchiveNameError(const std::string& library, const std::string& name)
    : Exception("当前系统的代码页无法表示这个名称，" + library + " 不能使用它：" + name)
{
}

ArchiveLibrary::ArchiveLibrary(const std::string& programDirectory, const std::string& fileName)
    // The full path: the libraries are the program directory's, never ones found along the search path.
    : fileName_(fileName), module_(LoadLibraryW(ToApiPath(programDirectory + fileName).c_str()))
{
    if (auto textCodePage = Resolve<infozip::ArchiveTextCodePageFn>(infozip::kTextCodePageExport)) {
        codePage_ = textCodePage();
    }
    // CP_ACP resolved: a Windows set to use UTF-8 as its ANSI code page (65001) takes UTF-8 names as they are, and
    // WideCharToMultiByte refuses WC_NO_BEST_FIT_CHARS and the default-character check for CP_UTF8.
    if (codePage_ == CP_ACP) codePage_ = GetACP();
}

std::optional<std::string> ArchiveLibrary::Encode(const std::string& name) const
{
    if (codePage_ == CP_UTF8) return name;
    const std::wstring wide = Widen(name);
    if (wide.empty()) return std::string();
    // WC_NO_BEST_FIT_CHARS with a default-character check: a character without its own code in the page is a
    // refusal, never a look-alike.
    BOOL lost = FALSE;
    const int length = WideCharToMultiByte(codePage_, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, &lost);
    if (length <= 0 || lost) return std::nullopt;
    std::string encoded(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage_, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), encoded.data(),
                        length, nullptr, &lost);
    if (lost) return std::nullopt;
    return encoded;
}

std::string ArchiveLibrary::EncodeOrThrow(const std::string& name) const
{
    std::optional<std::string> encoded = Encode(name);
    if (!encoded) throw EArchiveNameError(fileName_, name);
    return std::move(*encoded);
}
