// A fixed set of tasks that run beside the calling thread: the caller starts task i, goes on with its own work
// and later waits for task i to end before it starts it again. No queue and no lock are shared with the tasks;
// each task finds its input and leaves its result in a slot of its own.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace zipcore {

class ParallelTasks {
public:
    // `run(index)` does the work of task `index`. It must not throw and must not use thread-local state: on
    // Windows it runs on a thread of the system pool that outlives the library this code is linked into.
    ParallelTasks(std::size_t count, std::function<void(std::size_t index)> run);
    // Waits for every task still running.
    ~ParallelTasks();
    ParallelTasks(const ParallelTasks&) = delete;
    ParallelTasks& operator=(const ParallelTasks&) = delete;

    void start(std::size_t index);
    // Returns once the task's last start has run to its end; at once when it is not running.
    void wait(std::size_t index);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zipcore
