#include "SyncHttp.h"

#include "SyncService.h"

void installSyncRoutes(httplib::Server &server, SyncService &service)
{
    server.set_payload_max_length(SyncService::maxBodyBytes);

    server.Post("/api/sync", [&service](const httplib::Request &request, httplib::Response &response) {
        const ServiceResponse answer = service.handleSync(request.body);
        response.status = answer.httpStatus;
        response.set_content(answer.body, "application/json");
    });

    server.Get("/ip", [](const httplib::Request &request, httplib::Response &response) {
        response.set_content(request.remote_addr, "text/plain");
    });

    server.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request &, httplib::Response &response) {
        if (!response.body.empty())
            return httplib::Server::HandlerResponse::Unhandled; // a route's own answer
        if (response.status == 413) {
            response.status = 400;
            response.set_content(SyncService::messageBody("Request body too large"), "application/json");
        } else {
            response.set_content(SyncService::messageBody("HTTP error " + std::to_string(response.status)),
                                 "application/json");
        }
        return httplib::Server::HandlerResponse::Handled;
    }));

    server.set_exception_handler([](const httplib::Request &, httplib::Response &response, std::exception_ptr) {
        response.status = 500;
        response.set_content(SyncService::messageBody("Internal error"), "application/json");
    });
}
