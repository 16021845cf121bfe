// A one-way "stop now" flag that sleeping threads can wait on, so that
// injected delays end at once when the simulator shuts down.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace marl::sim {

class StopSignal {
  public:
    void Raise() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_raised = true;
        }
        m_cv.notify_all();
    }
    bool Raised() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_raised;
    }
    // Waits up to `ms`; true when the stop was raised.
    bool WaitFor(int ms) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_raised; });
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_raised; });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_raised = false;
};

}  // namespace marl::sim
