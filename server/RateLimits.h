#pragma once

#include "SqlStore.h"

#include <cstdint>
#include <optional>
#include <string>

// A token bucket: up to `capacity` requests at once, refilled at `perSecond`.
struct BucketRule {
    double capacity = 1;
    double perSecond = 1;
};

struct BucketState {
    double level = 0; // requests that may come now
    int64_t updatedMs = 0;
};

struct BucketDecision {
    bool allowed = false;
    BucketState after;
    // From this time on the bucket is full again and need not be kept.
    int64_t fullMs = 0;
    // When refused: whole seconds until one request is allowed again.
    int64_t retryAfterSeconds = 0;
};

// Takes one request from a bucket; a bucket never seen is full.
BucketDecision takeFromBucket(const std::optional<BucketState> &stored, const BucketRule &rule, int64_t nowMs);

// The buckets live in the service database, so that every instance of the
// service on one database shares them.
void createRateLimitTable(SqlSession &db);

// takeFromBucket on the bucket stored under `key`, storing the result. Call
// inside a transaction.
BucketDecision takeStoredToken(SqlSession &db, const std::string &key, const BucketRule &rule, int64_t nowMs);

// Drops the buckets that are full again by `nowMs`.
void forgetFullBuckets(SqlSession &db, int64_t nowMs);
