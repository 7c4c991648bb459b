#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "parallel_tasks.hpp"

namespace zipcore {

unsigned threadCount(unsigned requested) {
    return requested != 0 ? requested : std::max(1u, std::thread::hardware_concurrency());
}

// A thread per start: a task runs for milliseconds at least, creating a thread takes microseconds here.
struct ParallelTasks::State {
    std::function<void(std::size_t)> run;
    std::vector<std::thread> threads;  // joinable while the task is started and not yet waited for
    std::mutex mutex;
    std::condition_variable taskEnded;
    std::vector<bool> ended;
};

ParallelTasks::ParallelTasks(std::size_t count, std::function<void(std::size_t)> run)
    : state_(std::make_unique<State>()) {
    state_->run = std::move(run);
    state_->threads.resize(count);
    state_->ended.resize(count);
}

ParallelTasks::~ParallelTasks() {
    for (std::size_t i = 0; i < state_->threads.size(); ++i) wait(i);
}

void ParallelTasks::start(std::size_t index) {
    State& state = *state_;
    {
        std::lock_guard lock(state.mutex);
        state.ended[index] = false;
    }
    state.threads[index] = std::thread([&state, index] {
        state.run(index);
        {
            std::lock_guard lock(state.mutex);
            state.ended[index] = true;
        }
        state.taskEnded.notify_all();
    });
}

void ParallelTasks::wait(std::size_t index) {
    std::thread& thread = state_->threads[index];
    if (thread.joinable()) thread.join();
}

std::size_t ParallelTasks::waitAny() {
    State& state = *state_;
    std::size_t index = 0;
    {
        std::unique_lock lock(state.mutex);
        state.taskEnded.wait(lock, [&] {
            for (index = 0; index < state.threads.size(); ++index)
                if (state.threads[index].joinable() && state.ended[index]) return true;
            return false;
        });
    }
    state.threads[index].join();
    return index;
}

}  // namespace zipcore
