// A collector for the records sender's tests: cpp-httplib's server on
// 127.0.0.1 (a port of the system's choice) taking POST /records and
// answering as the test says (200 with the counts by default), keeping
// every batch it was sent. It can go down (nothing listens, connections are
// refused) and come up again on the same port. Linux tests only.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace mub::test {

class FakeCollector {
public:
    struct Batch {
        std::string token;                  // from "Authorization: Bearer TOKEN"
        std::vector<std::string> recordIds; // the records' record_id, in order
        std::vector<std::string> outcomes;
        std::string body;
    };
    struct Reply {
        int status = 200;
        std::string body; // empty: {"stored":N,"duplicates":0,"conflicts":[]}
    };

    FakeCollector();
    ~FakeCollector();
    FakeCollector(const FakeCollector&) = delete;
    FakeCollector& operator=(const FakeCollector&) = delete;

    std::string address() const { return "http://127.0.0.1:" + std::to_string(port_); }
    void down();
    void up();

    // How a batch is answered (from the server's threads); unset: 200.
    void answerWith(std::function<Reply(const Batch&)> answer);
    // Held this long before each answer.
    void delayAnswers(std::chrono::milliseconds delay);

    // Every batch it was sent (answered with 200 or not), and the record
    // ids of the batches it answered with 200, in order.
    std::vector<Batch> batches() const;
    std::vector<std::string> acknowledgedIds() const;
    // Requests that arrived, answered yet or not.
    int requestsCome() const { return come_; }

private:
    void listen();

    int port_ = 0;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    mutable std::mutex lock_;
    std::function<Reply(const Batch&)> answer_;
    std::chrono::milliseconds delay_{0};
    std::vector<Batch> batches_;
    std::vector<std::string> acknowledged_;
    std::atomic<int> come_{0};
};

} // namespace mub::test
