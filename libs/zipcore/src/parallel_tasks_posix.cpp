#include <thread>
#include <vector>

#include "parallel_tasks.hpp"

namespace zipcore {

// A thread per start: a task deflates a block for milliseconds, creating a thread takes microseconds here.
struct ParallelTasks::State {
    std::function<void(std::size_t)> run;
    std::vector<std::thread> threads;
};

ParallelTasks::ParallelTasks(std::size_t count, std::function<void(std::size_t)> run)
    : state_(std::make_unique<State>()) {
    state_->run = std::move(run);
    state_->threads.resize(count);
}

ParallelTasks::~ParallelTasks() {
    for (std::size_t i = 0; i < state_->threads.size(); ++i) wait(i);
}

void ParallelTasks::start(std::size_t index) {
    wait(index);
    state_->threads[index] = std::thread([this, index] { state_->run(index); });
}

void ParallelTasks::wait(std::size_t index) {
    std::thread& thread = state_->threads[index];
    if (thread.joinable()) thread.join();
}

}  // namespace zipcore
