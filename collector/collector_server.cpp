#include "collector/collector_server.h"

#include "collector/record_batch.h"
#include "collector/record_intake.h"
#include "collector/report_route.h"

#include <httplib.h>

#include <chrono>
#include <thread>

namespace mub::collector {

namespace {

void send(httplib::Response& response, const HttpAnswer& answer) {
    response.status = answer.status;
    response.set_content(answer.body, answer.contentType.c_str());
}

std::string peerOf(const httplib::Request& request) {
    return request.remote_addr + ":" + std::to_string(request.remote_port);
}

} // namespace

CollectorServer::CollectorServer(const CollectorSettings& settings, const StationTokens& tokens, Database& database)
    : settings_(settings), tokens_(tokens), database_(database), server_(std::make_unique<httplib::Server>()) {
    server_->new_task_queue = [] { return new httplib::ThreadPool(workerThreads); };
    // A bigger body is answered 413 before it is read into memory.
    server_->set_payload_max_length(maxBatchBytes);
    // A station's kept connection holds a worker: let it go soon.
    server_->set_keep_alive_timeout(2);
    addRoutes();
}

CollectorServer::~CollectorServer() = default;

void CollectorServer::addRoutes() {
    server_->Post("/records", [this](const httplib::Request& request, httplib::Response& response) {
        send(response, takeBatch(tokens_, database_, request.get_header_value("Authorization"), request.body,
                                 peerOf(request)));
    });
    server_->Get("/health", [this](const httplib::Request&, httplib::Response& response) {
        std::string error;
        const bool up = database_.check(error) == DbStatus::Done;
        send(response, {up ? 200 : 503, up ? "ok\n" : "database unavailable\n", "text/plain; charset=utf-8"});
    });
    server_->Get("/", [this](const httplib::Request&, httplib::Response& response) {
        send(response, reportAnswer(database_, settings_, currentPeriod(settings_.shifts)));
    });
    server_->Get("/report", [this](const httplib::Request& request, httplib::Response& response) {
        std::string error;
        const auto period =
            parseReportPeriod(request.get_param_value("from"), request.get_param_value("to"), error);
        send(response, period ? reportAnswer(database_, settings_, *period)
                              : HttpAnswer{400, error + "\n", "text/plain; charset=utf-8"});
    });
    // What the library answers itself (413 for a body over the bound, 404,
    // a request it cannot read) gets a reason in the body as well.
    server_->set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&,
                                                                       httplib::Response& response) {
        if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        const std::string reason = response.status == 413   ? "the batch is over the bound of 2 MiB"
                                   : response.status == 404 ? "no such page"
                                                            : "the request was refused (HTTP " +
                                                                  std::to_string(response.status) + ")";
        send(response, errorAnswer(response.status, reason));
        return httplib::Server::HandlerResponse::Handled;
    }));
}

bool CollectorServer::bind(const ListenAddress& address, std::string& error) {
    port_ = address.port == 0 ? server_->bind_to_any_port(address.host) : address.port;
    if ((address.port == 0 && port_ < 0) || (address.port != 0 && !server_->bind_to_port(address.host, address.port))) {
        error = "cannot listen on " + listenUrl(address.host, address.port) +
                " (the address is not this computer's, or the port is taken)";
        return false;
    }
    return true;
}

void CollectorServer::serve() {
    serving_ = true;
    if (!stopping_) server_->listen_after_bind();
    serving_ = false;
}

void CollectorServer::stop() {
    stopping_ = true;
    // serve() may be about to listen: the library's stop works once it does.
    while (serving_ && !server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server_->stop();
}

} // namespace mub::collector
