#include <windows.h>

#include <string>
#include <vector>

#include "parallel_tasks.hpp"
#include "zipcore/error.hpp"

namespace zipcore {

// The tasks are work objects of the system thread pool rather than std::threads. With mingw, std::thread runs on
// winpthreads, linked into each DLL: it attaches a record to every thread that touches it, frees the record only
// when that thread ends and never frees its TLS index, so a DLL unloaded after each call leaks with each call.
// (Workers stopped through a stop_token also hang now and then here: without futexes, libstdc++'s stop_callback
// can miss the wakeup it waits for.) A pool callback that only calls zlib touches none of that,
// and WaitForThreadpoolWorkCallbacks sees the last one end before the library's call returns.
namespace {

struct Task {
    const std::function<void(std::size_t)>* run;
    std::size_t index;
};

void CALLBACK runTask(PTP_CALLBACK_INSTANCE, void* context, PTP_WORK) noexcept {
    const Task& task = *static_cast<const Task*>(context);
    (*task.run)(task.index);
}

struct WorkCloser {
    void operator()(TP_WORK* work) const {
        WaitForThreadpoolWorkCallbacks(work, FALSE);
        CloseThreadpoolWork(work);
    }
};
using Work = std::unique_ptr<TP_WORK, WorkCloser>;

}  // namespace

struct ParallelTasks::State {
    std::function<void(std::size_t)> run;
    std::vector<Task> tasks;
    std::vector<Work> work;  // after the tasks: closed, and so waited for, before their contexts go
};

ParallelTasks::ParallelTasks(std::size_t count, std::function<void(std::size_t)> run)
    : state_(std::make_unique<State>()) {
    state_->run = std::move(run);
    for (std::size_t i = 0; i < count; ++i) state_->tasks.push_back({&state_->run, i});
    for (Task& task : state_->tasks) {
        Work work(CreateThreadpoolWork(runTask, &task, nullptr));
        if (!work) throw Error(ErrorKind::Io, "cannot create work for the thread pool (error " +
                                                  std::to_string(GetLastError()) + ")");
        state_->work.push_back(std::move(work));
    }
}

ParallelTasks::~ParallelTasks() = default;

void ParallelTasks::start(std::size_t index) { SubmitThreadpoolWork(state_->work[index].get()); }

void ParallelTasks::wait(std::size_t index) { WaitForThreadpoolWorkCallbacks(state_->work[index].get(), FALSE); }

}  // namespace zipcore
