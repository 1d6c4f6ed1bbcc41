// Memory shared by conversions running at once: each takes what its buffers
// will need before allocating them, and gives it back when done.
#ifndef TAVRIMOX_MEMORY_BUDGET_H
#define TAVRIMOX_MEMORY_BUDGET_H

#include <condition_variable>
#include <cstdint>
#include <mutex>

// Takers are served in the order they came: one that does not fit holds back
// those after it, so that a large file is not passed over for ever by small
// ones. One larger than the whole limit is served once nothing is taken.
struct MemoryBudget {
    std::mutex mutex;
    std::condition_variable changed;
    uint64_t limit = 0;
    uint64_t taken = 0;
    uint64_t next_ticket = 0;
    uint64_t serving = 0;
};

// Waits until the bytes fit (or nothing else is taken), then takes them.
void take_memory(MemoryBudget& budget, uint64_t bytes);
void give_back_memory(MemoryBudget& budget, uint64_t bytes);

#endif
