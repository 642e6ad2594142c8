// The one main of tplforge_bench; every other source here only registers benchmarks.
#include <benchmark/benchmark.h>

BENCHMARK_MAIN();
