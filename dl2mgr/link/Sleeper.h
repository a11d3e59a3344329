#pragma once

#include <chrono>
#include <thread>

namespace dl2mgr::link {

// The fixed pauses of the link go through this, so tests can skip or count them.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

class ThreadSleeper final : public Sleeper {
public:
    void Sleep(std::chrono::milliseconds duration) override {
        std::this_thread::sleep_for(duration);
    }
};

} // namespace dl2mgr::link
