// The one guard around the body of every entry point of our archive libraries: no exception may return into the
// caller, which need not be C++ at all. Shared by zip32.dll and unzip32.dll.
#pragma once

#include <new>
#include <string>

#include "zipcore/error.hpp"

namespace infozip {

// The result of `body`, or `failed` when it throws anything.
template <typename Result, typename Body>
Result GuardedOr(Result failed, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failed;
    }
}

// What the library's failures become: the result code for each kind of core error, the text sent to the caller's
// print callback as "<prefix> error: <reason>", and the codes for exhausted memory and anything unforeseen.
struct FailureCodes {
    const char* prefix;
    int outOfMemory;
    int unforeseen;
};

template <typename Body, typename Print, typename ResultFor>
int GuardedEntry(const FailureCodes& codes, Print&& print, ResultFor&& resultFor, Body&& body) noexcept {
    try {
        return body();
    } catch (const zipcore::Error& error) {
        try {
            print(std::string(codes.prefix) + " error: " + error.what() + "\n");
        } catch (...) {  // the reason is only an explanation; the result code says it all
        }
        return resultFor(error.kind());
    } catch (const std::bad_alloc&) {
        return codes.outOfMemory;
    } catch (...) {
        return codes.unforeseen;
    }
}

}  // namespace infozip
