// Client requests that let the benchmark tell callgrind where a measured
// segment starts and ends; loaded with ctypes by callgrind_target.py. Outside
// valgrind every request is a no-op.
#include <valgrind/callgrind.h>

extern "C" {

void bench_instrument(int on) {
    if (on) {
        CALLGRIND_START_INSTRUMENTATION;
    } else {
        CALLGRIND_STOP_INSTRUMENTATION;
    }
}

void bench_zero() { CALLGRIND_ZERO_STATS; }

void bench_dump(const char* label) { CALLGRIND_DUMP_STATS_AT(label); }

}
