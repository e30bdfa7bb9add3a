// Times each noise generator on one thread: nanoseconds of the thread's processor time per call over a
// fixed set of points (so that other work on a shared machine counts less), the fastest of five rounds.
// Prints one line per generator.
#include <time.h>

#include <cstdio>
#include <vector>

#include "shading/noise.h"

using namespace quorva;

namespace {

std::vector<Vec3> benchPoints() {
    std::vector<Vec3> points;
    LcgRandom random(7);
    auto coordinate = [&random] { return (random.next() / 32767.0 - 0.5) * 200.0; };
    for (int i = 0; i < 4096; ++i) points.push_back({coordinate(), coordinate(), coordinate()});
    return points;
}

double threadNanoseconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e9 + t.tv_nsec;
}

template <typename F>
void time(const char* name, const std::vector<Vec3>& points, int rounds, F f) {
    double best = 1e300, sink = 0;
    for (int r = 0; r < 5; ++r) {
        const double start = threadNanoseconds();
        for (int k = 0; k < rounds; ++k)
            for (const Vec3& p : points) sink += f(p);
        const double perCall = (threadNanoseconds() - start) / (static_cast<double>(rounds) * points.size());
        if (perCall < best) best = perCall;
    }
    std::printf("%-22s %9.1f ns/call   (checksum %.6g)\n", name, best, sink);
}

}  // namespace

int main() {
    const std::vector<Vec3> points = benchPoints();
    fnoise(points[0], 1);  // build the tables before timing
    vnoise(points[0]);
    time("GradientNoise", points, 200, [](const Vec3& p) { return gradientNoise(p); });
    time("noise", points, 200, [](const Vec3& p) { return valueNoiseSum(p, Octaves{}); });
    time("fnoise (10 octaves)", points, 20, [](const Vec3& p) { return fnoise(p, 10); });
    time("dnoise", points, 50, [](const Vec3& p) { return dnoise(p, Octaves{}).x; });
    time("vnoise", points, 20, [](const Vec3& p) { return vnoise(p); });
    time("vcnoise", points, 20, [](const Vec3& p) { return vcnoise(p); });
    time("scnoise (4 impulses)", points, 10, [](const Vec3& p) { return scnoise(p, 4); });
    time("voronoi", points, 20, [](const Vec3& p) { return voronoi(p, 1); });
    return 0;
}
