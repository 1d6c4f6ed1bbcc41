// The budget the batch program's conversions share.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "memory_budget.h"

namespace {

// Each row: what is held, what another thread asks for, whether it must
// wait until the held bytes are given back.
TEST(MemoryBudget, WaitsOnlyWhenTheBytesDoNotFit) {
    struct Row {
        const char* name;
        uint64_t held;
        uint64_t asked;
        bool waits;
    };
    const Row rows[] = {
        {"fits", 60, 40, false},
        {"one_byte_over", 60, 41, true},
        {"over_the_limit_alone", 0, 500, false},
        // Held past the limit by a large file: nothing fits beside it.
        {"beside_a_large_file", 500, 1, true},
    };
    for (const Row& row : rows) {
        MemoryBudget budget;
        budget.limit = 100;
        take_memory(budget, row.held);
        std::atomic<bool> taken{false};
        std::thread taker([&] {
            take_memory(budget, row.asked);
            taken = true;
        });
        // A wait is seen as no return within 50 ms; a return may take longer
        // on a busy machine.
        for (int i = 0; i < (row.waits ? 25 : 5000) && !taken; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        EXPECT_EQ(!taken, row.waits) << row.name;
        give_back_memory(budget, row.held);
        taker.join();
        give_back_memory(budget, row.asked);
        EXPECT_EQ(budget.taken, 0u) << row.name;
    }
}

}  // namespace
