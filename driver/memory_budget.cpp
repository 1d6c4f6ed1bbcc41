#include "memory_budget.h"

namespace {

bool fits(const MemoryBudget& budget, uint64_t bytes) {
    // taken may exceed the limit while a file larger than it runs.
    return budget.taken == 0 ||
           (budget.taken <= budget.limit && bytes <= budget.limit - budget.taken);
}

}  // namespace

void take_memory(MemoryBudget& budget, uint64_t bytes) {
    std::unique_lock<std::mutex> lock(budget.mutex);
    const uint64_t ticket = budget.next_ticket++;
    while (budget.serving != ticket || !fits(budget, bytes)) {
        budget.changed.wait(lock);
    }
    budget.taken += bytes;
    ++budget.serving;
    budget.changed.notify_all();  // the next ticket may fit as well
}

void give_back_memory(MemoryBudget& budget, uint64_t bytes) {
    {
        const std::lock_guard<std::mutex> lock(budget.mutex);
        budget.taken -= bytes;
    }
    budget.changed.notify_all();
}
