// Spline construction (with its checks) and evaluation.
#include "scene/spline.h"

#include <algorithm>
#include <cmath>

#include "diagnostics/diagnostics.h"
#include "eval/value.h"

namespace quorva {

namespace {

// The array node an argument evaluates to, or null.
const Request* arrayOf(const Request* node) {
    if (!node) return nullptr;
    EvalContext none;
    Value v = evaluate(none, node);
    if (v.type == Value::Type::Other && v.other && v.other->kind == RequestKind::Array) return v.other;
    return nullptr;
}

// Knot j of the curve, extended by one span beyond each end of a closed curve.
double knotAt(const Spline& s, int j) {
    int m = static_cast<int>(s.knots.size()) - 1;  // segments
    if (j < 0) return s.knots[0] - (s.knots[m] - s.knots[m - 1]);
    if (j > m) return s.knots[m] + (s.knots[1] - s.knots[0]);
    return s.knots[j];
}

const Vec3& pointAt(const Spline& s, int j) {
    int n = static_cast<int>(s.points.size());
    if (s.closed()) j = ((j % n) + n) % n;
    return s.points[std::clamp(j, 0, n - 1)];
}

// Tangent (derivative with respect to the parameter) at knot j.
Vec3 tangentAt(const Spline& s, int j) {
    int n = static_cast<int>(s.points.size());
    if (!s.closed()) {
        if (j == 0 && s.type == 5) return s.startDerivative;
        if (j == n - 1 && s.type == 5) return s.endDerivative;
        int a = std::max(j - 1, 0), b = std::min(j + 1, n - 1);
        double dt = s.knots[b] - s.knots[a];
        return dt > 0 ? (s.points[b] - s.points[a]) / dt : Vec3{};
    }
    double dt = knotAt(s, j + 1) - knotAt(s, j - 1);
    return dt > 0 ? (pointAt(s, j + 1) - pointAt(s, j - 1)) / dt : Vec3{};
}

}  // namespace

std::shared_ptr<const Spline> buildSpline(const Request* type, const Request* points,
                                          const Request* parameters) {
    auto spline = std::make_shared<Spline>();
    EvalContext none;

    if (type) {
        Value t = evaluate(none, type);
        if (!t.isNumber() || !(t.number >= 1 && t.number < 6)) fatal("Invalid spline type specified");
        spline->type = static_cast<int>(t.number);
    }

    const Request* array = arrayOf(points);
    if (!array || array->elements.empty()) fatal("Spline must have an array of control points");
    std::vector<Vec3> entries;
    entries.reserve(array->elements.size());
    for (const RequestPtr& e : array->elements) {
        Value v = e ? evaluate(none, e.get()) : Value::none();
        if (!v.isVector()) fatal("Control points in spline have to be vectors");
        entries.push_back(v.vector);
    }
    if (spline->type == 5) {
        if (entries.size() < 4)
            fatal("Type 5 splines must have at least two derivatives and two control points");
        spline->startDerivative = entries.front();
        spline->endDerivative = entries.back();
        spline->points.assign(entries.begin() + 1, entries.end() - 1);
    } else {
        spline->points = std::move(entries);
    }

    const int n = static_cast<int>(spline->points.size());
    const int segments = spline->closed() ? n : n - 1;
    if (parameters) {
        const Request* list = arrayOf(parameters);
        if (!list) fatal("Spline parameters have to be an array");
        if (static_cast<int>(list->elements.size()) != n)
            fatal("Spline must have same number of parameters as control points");
        for (int i = 0; i < n; ++i) {
            const RequestPtr& e = list->elements[i];
            Value v = e ? evaluate(none, e.get()) : Value::none();
            if (!v.isNumber()) fatal("Spline parameters %d must be a float", i);
            if (i > 0 && v.number < spline->knots.back()) fatal("Failed to interpolate spline");
            spline->knots.push_back(v.number);
        }
        if (spline->closed()) {
            double mean = n > 1 ? (spline->knots.back() - spline->knots.front()) / (n - 1) : 1.0;
            if (mean <= 0) mean = 1.0;
            spline->knots.push_back(spline->knots.back() + mean);
        }
        spline->length = spline->knots.back() - spline->knots.front();
    } else {
        // Chord lengths, normalised to 0..1.
        spline->knots.assign(1, 0.0);
        for (int i = 0; i < segments; ++i) {
            double d = length(pointAt(*spline, i + 1) - pointAt(*spline, i));
            spline->knots.push_back(spline->knots.back() + (d == 0 ? 1.0 : d));
        }
        spline->length = spline->knots.back();
        if (spline->length > 0)
            for (double& k : spline->knots) k /= spline->length;
    }
    return spline;
}

Vec3 evaluateSpline(const Spline& s, double t) {
    const int n = static_cast<int>(s.points.size());
    if (n == 0) return {};
    if (n == 1 && !s.closed()) return s.points[0];
    const int segments = static_cast<int>(s.knots.size()) - 1;
    if (segments < 1) return s.points[0];
    const double first = s.knots.front(), last = s.knots.back();

    if (s.closed()) {
        double range = last - first;
        if (range > 0 && std::isfinite(t)) {
            t = std::fmod(t - first, range);
            if (t < 0) t += range;
            t += first;
        }
    } else {
        if (!(t > first)) return s.points[0];
        if (t >= last) return s.points[n - 1];
    }

    // The segment i with knots[i] <= t < knots[i + 1].
    auto it = std::upper_bound(s.knots.begin(), s.knots.end(), t);
    int i = std::clamp(static_cast<int>(it - s.knots.begin()) - 1, 0, segments - 1);
    double h = s.knots[i + 1] - s.knots[i];
    const Vec3& p0 = pointAt(s, i);
    const Vec3& p1 = pointAt(s, i + 1);
    if (h <= 0) return p0;
    double u = std::clamp((t - s.knots[i]) / h, 0.0, 1.0);

    if (s.type == 1 || s.type == 2) return p0 * (1 - u) + p1 * u;

    // Cubic Hermite segment with the tangents of its two knots.
    Vec3 m0 = tangentAt(s, i) * h;
    Vec3 m1 = tangentAt(s, i + 1) * h;
    double u2 = u * u, u3 = u2 * u;
    double h00 = 2 * u3 - 3 * u2 + 1, h10 = u3 - 2 * u2 + u, h01 = -2 * u3 + 3 * u2, h11 = u3 - u2;
    return p0 * h00 + m0 * h10 + p1 * h01 + m1 * h11;
}

}  // namespace quorva
