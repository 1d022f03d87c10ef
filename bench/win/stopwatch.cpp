// The Windows-side timing harness: calibrated batches, interleaved, medians.
#include "bench/win/stopwatch.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

double Seconds()
{
    static const double frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / frequency;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::vector<Timing> MeasureSideBySide(const std::vector<Timed>& bodies, int batches, double batchSeconds)
{
    std::vector<long> iterations(bodies.size(), 1);
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        // Doubling until one batch is long enough; the last trial doubles as a warm-up.
        for (;;) {
            const double start = Seconds();
            bodies[i].body(iterations[i]);
            if (Seconds() - start >= batchSeconds || iterations[i] >= (1L << 28))
                break;
            iterations[i] *= 2;
        }
    }

    std::vector<std::vector<double>> perIteration(bodies.size());
    for (int batch = 0; batch < batches; ++batch) {
        for (std::size_t i = 0; i < bodies.size(); ++i) {
            const double start = Seconds();
            bodies[i].body(iterations[i]);
            perIteration[i].push_back((Seconds() - start) * 1e9 / static_cast<double>(iterations[i]));
        }
    }

    std::vector<Timing> timings;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        Timing timing;
        timing.name = bodies[i].name;
        timing.medianNs = Median(perIteration[i]);
        timing.minNs = *std::min_element(perIteration[i].begin(), perIteration[i].end());
        timing.iterationsPerBatch = iterations[i];
        timings.push_back(timing);
    }
    return timings;
}

void Emit(const std::string& key, double value)
{
    std::printf("%s %.6g\n", key.c_str(), value);
}

void Emit(const std::string& key, const std::string& value)
{
    std::printf("%s %s\n", key.c_str(), value.c_str());
}
