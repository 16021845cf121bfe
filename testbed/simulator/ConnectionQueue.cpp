// cpp-httplib serves each accepted connection, keep-alive requests included,
// as one task on one worker thread. Wrapping the tasks lets the handlers know
// which connection they are on without access to the socket.
#include <httplib.h>

#include <atomic>

#include "HttpFrontend.h"

namespace marl::sim {

namespace {

constexpr size_t kWorkerThreads = 16;

std::atomic<uint64_t> g_nextConnection{1};
thread_local uint64_t t_connection = 0;

class NumberingQueue : public httplib::TaskQueue {
  public:
    NumberingQueue() : m_pool(kWorkerThreads) {}

    void enqueue(std::function<void()> fn) override {
        uint64_t id = g_nextConnection++;
        m_pool.enqueue([id, fn = std::move(fn)] {
            t_connection = id;
            fn();
            t_connection = 0;
        });
    }
    void shutdown() override { m_pool.shutdown(); }

  private:
    httplib::ThreadPool m_pool;
};

}  // namespace

uint64_t CurrentConnectionId() { return t_connection; }

httplib::Server& UseNumberedConnections(httplib::Server& server) {
    server.new_task_queue = [] { return new NumberingQueue(); };
    return server;
}

}  // namespace marl::sim
