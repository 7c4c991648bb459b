// Flat extraction when the system will not start another thread: the error reaches the caller, the tasks already
// running are waited for, and nothing is left under a temporary name. The failure is injected here, since no host
// refuses a thread on request: this test program's own pthread_create stands in front of the C library's and
// refuses once a set number of threads has started. A program of its own, so that no other test meets it.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <dlfcn.h>
#include <future>
#include <pthread.h>
#include <span>
#include <system_error>

#include "test_support.hpp"
#include "zipcore/extract.hpp"
#include "zipcore/zip_reader.hpp"
#include "zipcore/zip_writer.hpp"

namespace {

// How many more threads may start; negative: any number.
std::atomic<int> threadsAllowed{-1};

using CreateFn = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
                              void* argument) noexcept
{
    static const auto real = reinterpret_cast<CreateFn>(dlsym(RTLD_NEXT, "pthread_create"));
    int allowed = threadsAllowed.load();
    while (allowed >= 0) {
        if (allowed == 0) return EAGAIN;
        if (threadsAllowed.compare_exchange_weak(allowed, allowed - 1)) break;
    }
    return real(thread, attributes, routine, argument);
}

namespace {

using namespace ziptest;

TEST(FlatExtraction, AThreadThatCannotStartFailsTheExtractionInsteadOfWaitingForever)
{
    TempDir dir;
    {
        zipcore::ZipWriter writer(dir / "a.zip");
        for (int i = 0; i < 12; ++i) {
            const std::string content(20000 + i, static_cast<char>('a' + i));
            writer.addEntry(
                "f" + std::to_string(i) + ".txt",
                zipcore::MemorySource(std::span(reinterpret_cast<const std::uint8_t*>(content.data()), content.size())),
                {});
        }
        writer.finish();
    }
    const zipcore::ZipReader reader = zipcore::ZipReader::open(dir / "a.zip");

    // The first thread refused, then one refused after a few have run: the slots' states differ in each.
    for (const int allowed : {0, 1, 3}) {
        SCOPED_TRACE("threads allowed: " + std::to_string(allowed));
        const std::string target = dir / ("out" + std::to_string(allowed));
        // The extraction runs on a thread started before the refusal, so that a hang shows as a time-out here.
        std::promise<std::error_code> outcome;
        std::thread extraction([&] {
            threadsAllowed = allowed;
            try {
                zipcore::extractFlat(reader, target, {.threads = 4});
                outcome.set_value({});
            } catch (const std::system_error& error) {
                outcome.set_value(error.code());
            } catch (...) {
                outcome.set_exception(std::current_exception());
            }
            threadsAllowed = -1;
        });
        std::future<std::error_code> result = outcome.get_future();
        if (result.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            extraction.detach();
            FAIL() << "the extraction still waits 30 s after a thread could not start";
        }
        extraction.join();
        EXPECT_EQ(result.get(), std::errc::resource_unavailable_try_again);
        // Whatever was committed before the failure is whole; nothing else is there, under any name.
        for (const std::string& name : treeOf(target)) {
            EXPECT_EQ(name.rfind('f', 0), 0u) << name;
            EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
        }
    }
}

}  // namespace
