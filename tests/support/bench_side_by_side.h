// Timing an engine routine beside its reference in one benchmark, so that
// both see the same machine at the same moment: the figure a routine is
// held to is the ratio of the two.
#ifndef SUPPORT_BENCH_SIDE_BY_SIDE_H
#define SUPPORT_BENCH_SIDE_BY_SIDE_H

#include <benchmark/benchmark.h>

#include <ctime>

inline double bench_thread_cpu_ns(void) {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// CPU nanoseconds one call of `work` takes on this thread: time the thread
// spends descheduled on a busy machine is not counted against either side.
template <typename Work>
inline double bench_elapsed_ns(Work work) {
    double start = bench_thread_cpu_ns();
    work();
    return bench_thread_cpu_ns() - start;
}

// Runs `engine` and `reference` once per iteration, alternating which goes
// first so neither always inherits the other's cache state, and reports the
// time of each per item and their ratio.
template <typename Engine, typename Reference>
inline void bench_side_by_side(benchmark::State &state, size_t items, Engine engine,
                               Reference reference) {
    double engine_ns = 0, reference_ns = 0;
    bool engine_first = true;
    for (auto _ : state) {
        if (engine_first) {
            engine_ns += bench_elapsed_ns(engine);
            reference_ns += bench_elapsed_ns(reference);
        } else {
            reference_ns += bench_elapsed_ns(reference);
            engine_ns += bench_elapsed_ns(engine);
        }
        engine_first = !engine_first;
    }
    double per_item = static_cast<double>(state.iterations()) * static_cast<double>(items);
    state.counters["engine_ns"] = engine_ns / per_item;
    state.counters["std_ns"] = reference_ns / per_item;
    state.counters["ratio"] = engine_ns / reference_ns;
}

#endif
