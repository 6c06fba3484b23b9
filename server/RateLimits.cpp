#include "RateLimits.h"

#include <algorithm>
#include <cmath>

BucketDecision takeFromBucket(const std::optional<BucketState> &stored, const BucketRule &rule, int64_t nowMs)
{
    double level = rule.capacity;
    if (stored) {
        // A clock that went back refills nothing.
        const double elapsed = double(std::max<int64_t>(0, nowMs - stored->updatedMs)) / 1000.0;
        level = std::min(rule.capacity, stored->level + elapsed * rule.perSecond);
    }
    BucketDecision decision;
    decision.allowed = level >= 1.0;
    if (decision.allowed)
        level -= 1.0;
    else
        decision.retryAfterSeconds = std::max<int64_t>(1, int64_t(std::ceil((1.0 - level) / rule.perSecond)));
    decision.after = BucketState{level, nowMs};
    decision.fullMs = nowMs + int64_t(std::ceil((rule.capacity - level) / rule.perSecond * 1000.0));
    return decision;
}

// No index on fullms: one more page to write on every request costs more
// than a scan of the buckets once a minute.
void createRateLimitTable(SqlSession &db)
{
    db.createTable("CREATE TABLE IF NOT EXISTS ratelimits ("
            "bucket TEXT PRIMARY KEY NOT NULL, level REAL NOT NULL, updatedms INTEGER NOT NULL, "
            "fullms INTEGER NOT NULL)");
}

BucketDecision takeStoredToken(SqlSession &db, const std::string &key, const BucketRule &rule, int64_t nowMs)
{
    std::optional<BucketState> stored;
    db.first("SELECT level, updatedms FROM ratelimits WHERE bucket = ?", {key},
             [&](const SqlRow &row) { stored = BucketState{row.real(0), row.integer(1)}; });
    const BucketDecision decision = takeFromBucket(stored, rule, nowMs);
    db.run("INSERT INTO ratelimits (bucket, level, updatedms, fullms) VALUES (?, ?, ?, ?) "
           "ON CONFLICT (bucket) DO UPDATE SET level = excluded.level, "
           "updatedms = excluded.updatedms, fullms = excluded.fullms",
           {key, decision.after.level, decision.after.updatedMs, decision.fullMs});
    return decision;
}

void forgetFullBuckets(SqlSession &db, int64_t nowMs)
{
    db.run("DELETE FROM ratelimits WHERE fullms <= ?", {nowMs});
}
