// Text forms of the value types, for messages and test failures.
#include "geometry/vec3.h"

#include <cstdio>

namespace quorva {

std::string toString(const Vec3& v) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "(%g, %g, %g)", v.x, v.y, v.z);
    return buf;
}
std::ostream& operator<<(std::ostream& os, const Vec3& v) {
    return os << toString(v);
}

std::string toString(const Color& c) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "'%g, %g, %g'", c.r, c.g, c.b);
    return buf;
}
std::ostream& operator<<(std::ostream& os, const Color& c) {
    return os << toString(c);
}

std::string toString(const Ray& r) {
    char buf[200];
    std::snprintf(buf, sizeof buf, "[(%g, %g, %g) -> (%g, %g, %g)]", r.origin.x, r.origin.y, r.origin.z,
                  r.direction.x, r.direction.y, r.direction.z);
    return buf;
}
std::ostream& operator<<(std::ostream& os, const Ray& r) {
    return os << toString(r);
}

}  // namespace quorva
