#pragma once

// Benchmarks that time one pass of their own (Iterations(1)) repeat it
// kRepetitions times and report the mean, median, standard deviation and
// coefficient of variation of each counter instead of every run, so that
// one noisy run does not decide a ratio: read the `_median` rows.
// `--benchmark_repetitions=N` on the command line overrides the count.

inline constexpr int kRepetitions = 5;
