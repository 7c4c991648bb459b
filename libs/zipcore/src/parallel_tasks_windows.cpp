#include <windows.h>

#include <string>
#include <vector>

#include "parallel_tasks.hpp"
#include "zipcore/error.hpp"

namespace zipcore {

// Each task has a thread of its own, made with the object and ended before it goes. The archive libraries are
// loaded and unloaded around each call, so nothing that runs a task may outlive the call: these threads end
// inside it, and what the C++ runtime kept for them (its exception state, once a task threw and caught) goes
// with them while the library is still loaded. Not std::thread: with mingw it runs on winpthreads, linked into
// each DLL, which attaches a record to every thread that creates or joins one and frees it only when that thread
// ends (its TLS index never), so every call would leave that behind on the caller's thread; and workers stopped
// through a stop_token hang now and then, as libstdc++ without futexes can lose the wakeup that a stop_callback
// waits for. Events and the WaitFor functions keep no such state.
namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

Handle checked(HANDLE handle, const char* what) {
    if (!handle)
        throw Error(ErrorKind::Io,
                    std::string("cannot create ") + what + " (error " + std::to_string(GetLastError()) + ")");
    return Handle(handle);
}

struct Slot {
    const std::function<void(std::size_t)>* run = nullptr;
    std::size_t index = 0;
    Handle startEvent;  // auto-reset: one start, one run
    Handle doneEvent;   // manual-reset: set while the task is not running
    Handle thread;
    bool running = false;
    bool stopping = false;  // written before startEvent is set, read after it was seen

    static DWORD WINAPI loop(void* context) {
        Slot& slot = *static_cast<Slot*>(context);
        for (;;) {
            WaitForSingleObject(slot.startEvent.get(), INFINITE);
            if (slot.stopping) return 0;
            (*slot.run)(slot.index);
            SetEvent(slot.doneEvent.get());
        }
    }
};

}  // namespace

unsigned threadCount(unsigned requested) {
    if (requested != 0) return requested;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    return system.dwNumberOfProcessors > 0 ? system.dwNumberOfProcessors : 1;
}

struct ParallelTasks::State {
    std::function<void(std::size_t)> run;
    std::vector<Slot> slots;

    ~State() {
        for (Slot& slot : slots) {
            if (!slot.thread) continue;
            if (slot.running) WaitForSingleObject(slot.doneEvent.get(), INFINITE);
            slot.stopping = true;
            SetEvent(slot.startEvent.get());
            WaitForSingleObject(slot.thread.get(), INFINITE);
        }
    }
};

ParallelTasks::ParallelTasks(std::size_t count, std::function<void(std::size_t)> run)
    : state_(std::make_unique<State>()) {
    State& state = *state_;
    state.run = std::move(run);
    state.slots.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        Slot& slot = state.slots[i];
        slot.run = &state.run;
        slot.index = i;
        slot.startEvent = checked(CreateEventW(nullptr, FALSE, FALSE, nullptr), "an event");
        slot.doneEvent = checked(CreateEventW(nullptr, TRUE, TRUE, nullptr), "an event");
        slot.thread = checked(CreateThread(nullptr, 0, Slot::loop, &slot, 0, nullptr), "a thread");
    }
}

ParallelTasks::~ParallelTasks() = default;

void ParallelTasks::start(std::size_t index) {
    Slot& slot = state_->slots[index];
    slot.running = true;
    ResetEvent(slot.doneEvent.get());
    SetEvent(slot.startEvent.get());
}

void ParallelTasks::wait(std::size_t index) {
    Slot& slot = state_->slots[index];
    if (!slot.running) return;
    WaitForSingleObject(slot.doneEvent.get(), INFINITE);
    slot.running = false;
}

std::size_t ParallelTasks::waitAny() {
    std::vector<HANDLE> events;
    std::vector<std::size_t> indexes;
    for (Slot& slot : state_->slots) {
        if (!slot.running) continue;
        events.push_back(slot.doneEvent.get());
        indexes.push_back(slot.index);
    }
    const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, INFINITE);
    const std::size_t index = indexes.at(result - WAIT_OBJECT_0);
    state_->slots[index].running = false;
    return index;
}

}  // namespace zipcore
