// Particle generators: emission, motion, deaths and bounces, once per frame.
#include "scene/particles.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "diagnostics/diagnostics.h"
#include "eval/evaluator.h"
#include "geometry/intersect_context.h"
#include "geometry/placed_mesh.h"
#include "geometry/world.h"
#include "scene/scene_state.h"
#include "scene/symbol_table.h"

namespace quorva {

namespace {

// Smallest distance a bounce ray looks at, so that a particle resting on a surface leaves it.
constexpr double CollisionBias = 1e-6;

ParticleSystem& systemOf(SceneState& scene) {
    if (!scene.particles) scene.particles = std::make_shared<ParticleSystem>();
    return *scene.particles;
}

const ParticleGenerator* instantiate(ParticleSystem& system, const std::string& key,
                                     const std::shared_ptr<const ParticleGeneratorDefinition>& definition,
                                     bool named) {
    for (const auto& g : system.generators)
        if (g->key == key) return g.get();
    try {
        auto g = std::make_unique<ParticleGenerator>();
        g->key = key;
        g->definition = definition ? definition : std::make_shared<const ParticleGeneratorDefinition>();
        system.generators.push_back(std::move(g));
    } catch (const std::bad_alloc&) {
        fatal(named ? "Failed to create ParticleGenerator name" : "Failed to create ParticleGenerator");
    }
    return system.generators.back().get();
}

// The generator a Death expression names, instantiated from the symbol table when first met.
const ParticleGenerator* generatorNamed(SceneState& scene, const std::string& name) {
    const SymbolEntry* entry = scene.symbols ? scene.symbols->lookup(name) : nullptr;
    const auto* definition =
        entry && entry->kind == SymbolKind::ParticleGenerator
            ? std::get_if<std::shared_ptr<const ParticleGeneratorDefinition>>(&entry->value)
            : nullptr;
    if (!definition) fatal("Can't find ParticleGenerator \"%s\"", name.c_str());
    return instantiate(systemOf(scene), name, *definition, true);
}

// The expressions see the particle's age, position (P, and x, y, z) and velocity (V), the frame
// counters, and `random` from the system's own generator.
class ParticleEvaluator {
  public:
    ParticleEvaluator(const SceneState& scene, RandomGenerator& random) {
        context_.frames = &scene.frame.frames;
        context_.random = &random;
    }

    void bind(const Particle& p) {
        at_.age = p.age;
        at_.P = p.position;
        at_.V = p.velocity;
        context_.shading = &at_;
    }
    Value value(const RequestPtr& e) const { return e ? evaluate(context_, e) : Value::none(); }
    // A vector item: 0 when absent, fatal when it gives anything else.
    Vec3 vector(const RequestPtr& e) const {
        if (!e) return {0, 0, 0};
        const Value v = value(e);
        if (!v.isVector()) fatal("Bad point/vector/color expression");
        return v.vector;
    }
    // The Particles item: 1 when absent, fatal when not a number, at most MaxParticlesPerEmission.
    int count(const RequestPtr& e) const {
        if (!e) return 1;
        const Value v = value(e);
        if (!v.isNumber()) fatal("Invalid Particle number");
        if (!(v.number >= 1)) return 0;
        if (v.number <= MaxParticlesPerEmission) return static_cast<int>(v.number);
        warning("Particles of %.15g is too many (reduced to %d)", v.number, MaxParticlesPerEmission);
        return MaxParticlesPerEmission;
    }

  private:
    ShadingContext at_;
    EvalContext context_;
};

// The nearest hit of a short segment: only shapes whose box meets the segment's box are tried (the
// hierarchy is built after the particles move).
bool nearestHit(IntersectContext& ctx, const std::vector<const Shape*>& shapes, const Ray& ray, double tmin,
                double tmax, Intersection& hit) {
    const Vec3 end = ray.at(tmax);
    Vec3 lo, hi;
    for (int a = 0; a < 3; ++a) {
        lo[a] = std::min(ray.origin[a], end[a]) - 1e-6;
        hi[a] = std::max(ray.origin[a], end[a]) + 1e-6;
    }
    hit.hit = 0;
    for (const Shape* s : shapes) {
        const Vec3 smax = s->boundsMin + s->boundsSize;
        if (s->boundsMin.x > hi.x || s->boundsMin.y > hi.y || s->boundsMin.z > hi.z || smax.x < lo.x ||
            smax.y < lo.y || smax.z < lo.z)
            continue;
        intersectShape(ctx, ray, tmin, tmax, hit, *s);
    }
    return hit.hit != 0;
}

class FrameUpdate {
  public:
    explicit FrameUpdate(SceneState& scene)
        : scene_(scene), system_(systemOf(scene)), eval_(scene, system_.random) {
        collisions_.particleCollision = true;
        // What a particle can bounce off: the scene's shapes, not the particles placed this frame (the
        // meshes among them searched through their trees).
        buildMeshTrees(scene.frame.world);
        obstacles_.assign(scene.frame.world.mainList.begin(), scene.frame.world.mainList.end());
        live_ = system_.particles.size();
    }

    void run();

  private:
    void emit(const ParticleGenerator& g, int n, std::vector<Particle>& out);
    void move(Particle& p);
    void place(const Particle& p);

    SceneState& scene_;
    ParticleSystem& system_;
    ParticleEvaluator eval_;
    IntersectContext collisions_;
    std::vector<const Shape*> obstacles_;
    std::size_t live_ = 0;  // particles alive or about to be born this frame
};

void FrameUpdate::emit(const ParticleGenerator& g, int n, std::vector<Particle>& out) {
    const ParticleGeneratorDefinition& d = *g.definition;
    const std::size_t room = MaxLiveParticles > live_ ? MaxLiveParticles - live_ : 0;
    if (static_cast<std::size_t>(n) > room) n = static_cast<int>(room);
    live_ += static_cast<std::size_t>(n);
    for (int i = 0; i < n; ++i) {
        Particle p;
        p.generator = &g;
        p.position = eval_.vector(d.location);
        p.velocity = eval_.vector(d.velocity);
        out.push_back(p);
    }
}

// Shows the particle's shape at its position, then advances it by one aging step.
void FrameUpdate::move(Particle& p) {
    const ParticleGeneratorDefinition& d = *p.generator->definition;
    eval_.bind(p);
    place(p);
    const double dt = d.aging;
    const Vec3 v = p.velocity + eval_.vector(d.acceleration) * dt;
    p.velocity = v;
    const double speed = length(v);
    const double reach = speed * dt;
    if (d.collisionDetection && reach > CollisionBias) {
        const Ray ray{p.position, v * (1 / speed)};
        Intersection hit;
        if (nearestHit(collisions_, obstacles_, ray, CollisionBias, reach, hit) && hit.distance < reach) {
            Vec3 n = normalized(hit.normal);
            if (dot(n, ray.direction) > 0) n = -n;
            const Vec3 r = ray.direction - n * (2 * dot(ray.direction, n));
            p.position = hit.point + r * (reach - hit.distance);
            p.velocity = r * speed;
            return;
        }
    }
    p.position += v * dt;
}

void FrameUpdate::place(const Particle& p) {
    const Value name = eval_.value(p.generator->definition->shape);
    const Request* text = name.type == Value::Type::Other ? name.other : nullptr;
    const SymbolEntry* entry = text && text->kind == RequestKind::String && scene_.symbols
                                   ? scene_.symbols->lookup(text->text)
                                   : nullptr;
    const auto* solid = entry && entry->kind == SymbolKind::Solid
                            ? std::get_if<std::shared_ptr<const Shape>>(&entry->value)
                            : nullptr;
    if (!solid || !*solid) fatal("Can't find ParticleGenerator Shape name");
    std::unique_ptr<Shape> shape = copyShape(**solid);
    shape->attributes |= ShapeAttr::Particle;
    shape->applyTransform(makeTranslate(p.position));
    addToWorld(std::move(shape), scene_.frame.world,
               AddSettings{scene_.frame.options.renderMode, scene_.frame.options.featureMask});
}

void FrameUpdate::run() {
    const AnimationCounters& frames = scene_.frame.frames;
    // 1. Emission, in the order the generators were instantiated; new particles go to the front.
    std::vector<Particle> born;
    for (std::size_t i = 0; i < system_.generators.size(); ++i) {
        const ParticleGenerator& g = *system_.generators[i];
        const ParticleGeneratorDefinition& d = *g.definition;
        eval_.bind(Particle{});
        bool emits;
        if (d.birth) {
            const Value b = eval_.value(d.birth);
            emits = b.isNumber() && b.number != 0;
        } else {
            emits = frames.currentFrame == frames.firstFrame;
        }
        if (!emits) continue;
        std::vector<Particle> batch;
        emit(g, eval_.count(d.particles), batch);
        born.insert(born.begin(), batch.rbegin(), batch.rend());
    }
    std::vector<Particle>& list = system_.particles;
    list.insert(list.begin(), born.begin(), born.end());

    // 2. Motion: age, then keep, replace or remove each particle.
    std::vector<Particle> replacements;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        Particle p = list[i];
        const ParticleGeneratorDefinition& d = *p.generator->definition;
        p.age += d.aging;
        eval_.bind(p);
        const Value death = eval_.value(d.death);
        if (!d.death || (death.isNumber() && death.number == 0)) {
            move(p);
            list[kept++] = p;
            continue;
        }
        if (death.type == Value::Type::Other && death.other && death.other->kind == RequestKind::String) {
            const ParticleGenerator* next = generatorNamed(scene_, death.other->text);
            const ParticleGeneratorDefinition& nd = *next->definition;
            std::vector<Particle> batch;
            emit(*next, eval_.count(nd.particles), batch);
            for (Particle& q : batch) {
                move(q);
                replacements.push_back(q);
            }
        }
        // The dying particle is dropped.
        --live_;
    }
    list.resize(kept);
    // Each replacement went to the front in turn: the last made comes first.
    list.insert(list.begin(), replacements.rbegin(), replacements.rend());
    system_.anonymousCount = 0;
}

}  // namespace

void addParticleGenerator(SceneState& scene, const std::string& name,
                          const std::shared_ptr<const ParticleGeneratorDefinition>& definition) {
    ParticleSystem& system = systemOf(scene);
    std::string key = name;
    if (key.empty()) key = formatText("#%d", system.anonymousCount++);
    instantiate(system, key, definition, !name.empty());
}

void particlesNewFrame(SceneState& scene) {
    if (!scene.particles) return;
    FrameUpdate(scene).run();
}

void particlesFree(SceneState& scene) {
    scene.particles.reset();
}

}  // namespace quorva
