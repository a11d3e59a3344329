#pragma once

// Jobs for the bench's tests with many threads: a device written whole, and threads set
// off together.

#include "vqpipex/vqpipex.h"

#include <cstdint>
#include <latch>
#include <thread>
#include <vector>

namespace vqpipex::testing {

// A word of its own for every device and offset.
inline std::uint16_t Pattern(int device, std::uint32_t word) {
    return static_cast<std::uint16_t>((device + 1) * 0x0101 ^ word * 0x9E37u);
}

// Opens device `index` of `driver` (anything with the driver's calls as members), writes
// its `words` words with its pattern, reads them back and closes it: the first failure,
// VQ_OTHER_ERROR for a word read back wrong, else VQ_OK.
template <class Driver>
VQ_STATUS WriteWholePart(Driver& driver, int index, std::uint32_t words) {
    VQ_HANDLE h = nullptr;
    if (const VQ_STATUS status = driver.Open(index, &h)) return status;
    VQ_STATUS result = VQ_OK;
    for (std::uint32_t w = 0; w < words && result == VQ_OK; ++w)
        result = driver.WriteEE(h, w, Pattern(index, w));
    for (std::uint32_t w = 0; w < words && result == VQ_OK; ++w) {
        std::uint16_t value = 0;
        result = driver.ReadEE(h, w, &value);
        if (result == VQ_OK && value != Pattern(index, w)) result = VQ_OTHER_ERROR;
    }
    const VQ_STATUS closed = driver.Close(h);
    return result != VQ_OK ? result : closed;
}

// Runs job(0) .. job(n - 1), each on a thread of its own, all set off at once; their
// statuses in that order.
template <class Job>
std::vector<VQ_STATUS> OnThreads(int n, const Job& job) {
    std::vector<VQ_STATUS> statuses(static_cast<std::size_t>(n), VQ_OTHER_ERROR);
    std::latch ready(n);
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
        threads.emplace_back([&, i] {
            ready.arrive_and_wait();
            statuses[static_cast<std::size_t>(i)] = job(i);
        });
    for (std::thread& thread : threads)
        thread.join();
    return statuses;
}

} // namespace vqpipex::testing
