// The library's own 48-bit linear congruential generator, so that random
// sequences (the random colour map) are the same on every platform.
#include <cstdint>

#include "imagelib_internal.h"

namespace {

constexpr uint64_t kMask48 = (uint64_t(1) << 48) - 1;
constexpr unsigned kDefaultA[3] = {0xE66D, 0xDEEC, 0x0005};
constexpr unsigned kDefaultC = 0xB;

// Three 16-bit parts each, least significant first.
unsigned x[3] = {0x330E, 0xABCD, 0x1234};
unsigned a[3] = {kDefaultA[0], kDefaultA[1], kDefaultA[2]};
unsigned c = kDefaultC;
unsigned short lastx[3] = {0, 0, 0};

uint64_t join(const unsigned p[3]) {
    return (uint64_t(p[2] & 0xFFFF) << 32) | (uint64_t(p[1] & 0xFFFF) << 16) | (p[0] & 0xFFFF);
}

// X <- (a * X + c) mod 2^48; unsigned 64-bit arithmetic wraps modulo a
// multiple of 2^48, so the mask gives the 48-bit result exactly.
uint64_t next() {
    const uint64_t v = (join(a) * join(x) + (c & 0xFFFF)) & kMask48;
    x[0] = unsigned(v & 0xFFFF);
    x[1] = unsigned((v >> 16) & 0xFFFF);
    x[2] = unsigned((v >> 32) & 0xFFFF);
    return v;
}

void restoreDefaults() {
    for (int i = 0; i < 3; ++i) a[i] = kDefaultA[i];
    c = kDefaultC;
}

// Runs one shared-state draw on the caller's state, leaving the shared X as
// it was.
template <class Draw>
auto onCallerState(unsigned short state[3], Draw draw) {
    const unsigned saved[3] = {x[0], x[1], x[2]};
    for (int i = 0; i < 3; ++i) x[i] = state[i];
    const auto result = draw();
    for (int i = 0; i < 3; ++i) {
        state[i] = static_cast<unsigned short>(x[i]);
        x[i] = saved[i];
    }
    return result;
}

}  // namespace

extern "C" {

double Tamodrand48(void) {
    next();
    return ((x[0] * (1.0 / 65536.0) + x[1]) * (1.0 / 65536.0) + x[2]) * (1.0 / 65536.0);
}

long Tamolrand48(void) {
    return static_cast<long>(next() >> 17);
}

long Tamomrand48(void) {
    return static_cast<long>(static_cast<int32_t>(static_cast<uint32_t>(next() >> 16)));
}

double Tamoerand48(unsigned short state[3]) {
    return onCallerState(state, Tamodrand48);
}

long Tamonrand48(unsigned short state[3]) {
    return onCallerState(state, Tamolrand48);
}

long Tamojrand48(unsigned short state[3]) {
    return onCallerState(state, Tamomrand48);
}

void Tamosrand48(long seed) {
    x[0] = 0x330E;
    x[1] = static_cast<unsigned>(seed) & 0xFFFF;
    x[2] = (static_cast<unsigned long>(seed) >> 16) & 0xFFFF;
    restoreDefaults();
}

unsigned short *Tamoseed48(unsigned short seed[3]) {
    for (int i = 0; i < 3; ++i) {
        lastx[i] = static_cast<unsigned short>(x[i]);
        x[i] = seed[i];
    }
    restoreDefaults();
    return lastx;
}

void Tamolcong48(unsigned short param[7]) {
    for (int i = 0; i < 3; ++i) {
        x[i] = param[i];
        a[i] = param[3 + i];
    }
    c = param[6];
}

}  // extern "C"
