// A small timing harness for the Windows side, where Google Benchmark is not at hand: bodies
// run in batches long enough for the clock, alternating so that they see the same machine.
#pragma once

#include <functional>
#include <string>
#include <vector>

// One body to time: it runs its work the given number of times.
struct Timed {
    std::string name;
    std::function<void(long iterations)> body;
};

struct Timing {
    std::string name;
    double medianNs = 0;  // per iteration, median over the batches
    double minNs = 0;
    long iterationsPerBatch = 0;
};

// Calibrates each body to batches of at least batchSeconds, then runs batches of all the
// bodies in turn, batches times over.
// The defaults keep the median steady on a machine that other work shares.
std::vector<Timing> MeasureSideBySide(const std::vector<Timed>& bodies, int batches = 31,
                                      double batchSeconds = 0.05);

// Seconds on a monotonic clock with sub-microsecond resolution.
double Seconds();

double Median(std::vector<double> values);

// "key value" lines on stdout, read back by bench/report.py.
void Emit(const std::string& key, double value);
void Emit(const std::string& key, const std::string& value);
