#pragma once

#include <httplib.h>

class SyncService;

// Routes of the service: POST /api/sync and GET /ip (the caller's address as
// plain text). Errors of the transport itself (an oversized body among them)
// answer 400 with a JSON {"msg"}.
void installSyncRoutes(httplib::Server &server, SyncService &service);
