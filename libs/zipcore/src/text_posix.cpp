// OEM names natively: CP437 through the C library's iconv.
#include <iconv.h>

#include <memory>

#include "zipcore/error.hpp"
#include "zipcore/text.hpp"

namespace zipcore {
namespace {

struct IconvCloser {
    void operator()(void* handle) const { iconv_close(static_cast<iconv_t>(handle)); }
};

}  // namespace

std::string decodeOemText(std::string_view raw) {
    const iconv_t opened = iconv_open("UTF-8", "CP437");
    if (opened == reinterpret_cast<iconv_t>(-1)) throw Error(ErrorKind::Unsupported, "the C library lacks CP437");
    const std::unique_ptr<void, IconvCloser> converter(opened);

    std::string input(raw);
    std::string output(raw.size() * 3 + 1, '\0');  // every CP437 character takes at most three UTF-8 bytes
    char* in = input.data();
    char* out = output.data();
    std::size_t inLeft = input.size();
    std::size_t outLeft = output.size();
    if (iconv(opened, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1))
        throw Error(ErrorKind::Corrupt, "an entry name cannot be decoded as CP437");
    output.resize(output.size() - outLeft);
    return output;
}

}  // namespace zipcore
