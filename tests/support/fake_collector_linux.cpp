#include "tests/support/fake_collector.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace mub::test {

FakeCollector::FakeCollector() { up(); }

FakeCollector::~FakeCollector() { down(); }

void FakeCollector::up() {
    if (server_) return;
    server_ = std::make_unique<httplib::Server>();
    // One request per connection: a server that goes down holds nothing open.
    server_->set_keep_alive_max_count(1);
    server_->Post("/records", [this](const httplib::Request& request, httplib::Response& response) {
        ++come_;
        Batch batch;
        batch.body = request.body;
        const std::string authorization = request.get_header_value("Authorization");
        if (authorization.rfind("Bearer ", 0) == 0) batch.token = authorization.substr(7);
        const nlohmann::json json = nlohmann::json::parse(request.body, nullptr, false);
        if (json.is_object() && json.contains("records") && json["records"].is_array())
            for (const nlohmann::json& record : json["records"]) {
                if (!record.is_object()) continue;
                batch.recordIds.push_back(record.value("record_id", ""));
                batch.outcomes.push_back(record.value("outcome", ""));
            }
        std::function<Reply(const Batch&)> answer;
        std::chrono::milliseconds delay;
        {
            std::lock_guard<std::mutex> guard(lock_);
            answer = answer_;
            delay = delay_;
        }
        std::this_thread::sleep_for(delay);
        Reply reply = answer ? answer(batch) : Reply{};
        if (reply.body.empty() && reply.status == 200)
            reply.body = "{\"stored\":" + std::to_string(batch.recordIds.size()) + ",\"duplicates\":0,\"conflicts\":[]}";
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (reply.status == 200)
                acknowledged_.insert(acknowledged_.end(), batch.recordIds.begin(), batch.recordIds.end());
            batches_.push_back(std::move(batch));
        }
        response.status = reply.status;
        response.set_content(reply.body, "application/json");
    });
    if (port_ == 0) port_ = server_->bind_to_any_port("127.0.0.1");
    else if (!server_->bind_to_port("127.0.0.1", port_)) port_ = -1;
    thread_ = std::thread([server = server_.get()] { server->listen_after_bind(); });
    // A stop() before the server runs would be lost.
    while (port_ > 0 && !server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void FakeCollector::down() {
    if (!server_) return;
    server_->stop();
    thread_.join();
    server_.reset();
}

void FakeCollector::answerWith(std::function<Reply(const Batch&)> answer) {
    std::lock_guard<std::mutex> guard(lock_);
    answer_ = std::move(answer);
}

void FakeCollector::delayAnswers(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> guard(lock_);
    delay_ = delay;
}

std::vector<FakeCollector::Batch> FakeCollector::batches() const {
    std::lock_guard<std::mutex> guard(lock_);
    return batches_;
}

std::vector<std::string> FakeCollector::acknowledgedIds() const {
    std::lock_guard<std::mutex> guard(lock_);
    return acknowledged_;
}

} // namespace mub::test
