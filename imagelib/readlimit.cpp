// The largest image a file reader may create: a host's setting, the
// environment's TAMO_MAX_IMAGE_MB, or what one record and half the machine's
// memory allow. Checked before a reader allocates anything, so that a small
// crafted file cannot make a reader claim gigabytes nobody chose.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tamolib.h"

extern "C" {
int64_t Tamo_maxreadbytes = 0;
}

namespace {

constexpr int64_t kMiB = int64_t{1} << 20;
constexpr int64_t kRecordLimit = INT_MAX;

enum class Origin { Host, Environment, Record, Memory };

struct Limit {
    int64_t bytes;
    Origin origin;
};

// A positive whole number of megabytes in TAMO_MAX_IMAGE_MB, or 0.
int64_t environmentBytes() {
    const char *text = std::getenv("TAMO_MAX_IMAGE_MB");
    if (!text || !*text) return 0;
    errno = 0;
    char *end = nullptr;
    const long long mb = std::strtoll(text, &end, 10);
    if (errno || *end != '\0' || mb <= 0) return 0;
    if (mb > INT64_MAX / kMiB) return INT64_MAX;
    return mb * kMiB;
}

int64_t halfPhysicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return INT64_MAX;
    return static_cast<int64_t>(pages) / 2 * pageSize;
}

Limit currentLimit() {
    Limit limit{kRecordLimit, Origin::Record};
    if (Tamo_maxreadbytes > 0) {
        if (Tamo_maxreadbytes < limit.bytes) limit = {Tamo_maxreadbytes, Origin::Host};
        return limit;
    }
    if (const int64_t env = environmentBytes()) {
        if (env < limit.bytes) limit = {env, Origin::Environment};
        return limit;
    }
    const int64_t half = halfPhysicalMemory();
    if (half < limit.bytes) limit = {half, Origin::Memory};
    return limit;
}

thread_local std::string lastRefusal;

// Megabytes for a message, rounded up so that a refused size never reads as
// equal to its limit.
long long megabytes(int64_t bytes) {
    return static_cast<long long>((bytes + kMiB - 1) / kMiB);
}

}  // namespace

extern "C" int64_t Tamomaxread(void) {
    return currentLimit().bytes;
}

extern "C" int Tamochkread(int64_t bytes) {
    const Limit limit = currentLimit();
    if (bytes >= 0 && bytes <= limit.bytes) return 0;
    char need[64];
    if (bytes < 0)
        std::snprintf(need, sizeof need, "more bytes than 64 bits can count");
    else
        std::snprintf(need, sizeof need, "%lld MB", megabytes(bytes));
    // The record limit is INT_MAX bytes, which reads as 2048 MB rounded up.
    const long long have = limit.origin == Origin::Record
                               ? megabytes(limit.bytes)
                               : static_cast<long long>(limit.bytes / kMiB);
    const char *format = nullptr;
    switch (limit.origin) {
        case Origin::Host:
            format = "it would need %s, more than the %lld MB set as the largest image to read";
            break;
        case Origin::Environment:
            format = "it would need %s, more than the %lld MB that TAMO_MAX_IMAGE_MB allows";
            break;
        case Origin::Record:
            format = "it would need %s, more than the %lld MB one image record can hold";
            break;
        case Origin::Memory:
            format =
                "it would need %s, more than half of this machine's memory (%lld MB; "
                "TAMO_MAX_IMAGE_MB sets another limit)";
            break;
    }
    char text[200];
    std::snprintf(text, sizeof text, format, need, have);
    lastRefusal = text;
    Tamoerr = TAMO_ELIMIT;
    return -1;
}

extern "C" const char *Tamolimittext(void) {
    return lastRefusal.c_str();
}
