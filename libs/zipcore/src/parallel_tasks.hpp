// A fixed set of tasks that run beside the calling thread: the caller starts task i, goes on with its own work
// and later waits for task i (or for whichever task ends first) before it starts it again. No queue is shared
// with the tasks; each task finds its input and leaves its result in a slot of its own.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace zipcore {

// `requested`, or the number of processors when it is 0.
unsigned threadCount(unsigned requested);

class ParallelTasks {
public:
    // `run(index)` does the work of task `index`. It must not throw: a task that can fail keeps its error in its
    // slot for the caller.
    ParallelTasks(std::size_t count, std::function<void(std::size_t index)> run);
    // Waits for every task still running; on Windows its threads have ended when this returns.
    ~ParallelTasks();
    ParallelTasks(const ParallelTasks&) = delete;
    ParallelTasks& operator=(const ParallelTasks&) = delete;

    // The task must not be running.
    void start(std::size_t index);
    // Returns once the task's last start has run to its end; at once when it is not running.
    void wait(std::size_t index);
    // Waits until one of the running tasks (there must be one) has ended and returns its index.
    std::size_t waitAny();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zipcore
