// Transformation items shared by shapes, shaders, lights, the camera and TransformationStack.
// Angles are written in degrees; each item builds one incremental Transform and items compose in the
// order written.
#include "diagnostics/diagnostics.h"
#include "scene/scene_state.h"
#include "scene/statement_parser.h"

namespace quorva {

namespace {
constexpr double DegreesToRadians = 0.017453292519943295;
}

// transformation-item := Rotate v | RotateAboutAxis '(' v ',' f ')' | Scale v | Translate v
//   | Shear '(' f ',' f ',' f ',' f ',' f ',' f ')' | Transform '(' f { ',' f } ')'   (sixteen numbers)
//   | transformation-stack
TransformItem Parser::parseTransformItem(bool allowShear) {
    TransformItem item;
    if (atDeclared(SymbolKind::TransformationStack) || atKeyword(Keyword::TransformationStack)) {
        std::shared_ptr<const Transform> stack = parseTransformationStack();
        item.matched = true;
        if (stack) item.transform = *stack;
        return item;
    }
    if (!atKind(TokenKind::Keyword)) return item;
    Keyword k = peek().keyword;
    switch (k) {
        case Keyword::Rotate: {
            advance();
            Vec3 a = parseVector() * DegreesToRadians;
            item.transform = makeRotate(a.x, a.y, a.z);
            break;
        }
        case Keyword::RotateAboutAxis: {
            advance();
            expectChar('(');
            Vec3 axis = parseVector();
            expectChar(',');
            double angle = parseFloat();
            expectChar(')');
            if (active()) item.transform = makeRotateAboutAxis(angle * DegreesToRadians, axis);
            break;
        }
        case Keyword::Scale: {
            advance();
            Vec3 s = parseVector();
            if (active()) item.transform = makeScale(s.x, s.y, s.z);
            break;
        }
        case Keyword::Translate: {
            advance();
            item.transform = makeTranslate(parseVector());
            break;
        }
        case Keyword::Shear: {
            if (!allowShear) return item;
            advance();
            expectChar('(');
            double v[6];
            for (int i = 0; i < 6; ++i) {
                if (i) expectChar(',');
                v[i] = parseFloat();
            }
            expectChar(')');
            item.transform = makeShear(v[0], v[1], v[2], v[3], v[4], v[5]);
            break;
        }
        case Keyword::Transform: {
            advance();
            expectChar('(');
            Matrix4 m;
            for (int i = 0; i < 16; ++i) {
                if (i) expectChar(',');
                m.m[i] = parseFloat();
            }
            expectChar(')');
            if (active()) item.transform = makeMatrixTransform(m);
            break;
        }
        default:
            return item;
    }
    item.matched = true;
    return item;
}

void Parser::transformItemError() {
    if (atKind(TokenKind::NewName) || atKind(TokenKind::DeclaredName))
        fatal("Can't find Transformation \"%s\" in symbol table", peek().text.c_str());
    syntaxError();
}

// transformation-stack := TransformationStack '[' { transformation-item } ']'
//                       | stack-name [ '[' { transformation-item } ']' ]
std::shared_ptr<const Transform> Parser::parseTransformationStack() {
    NestingGuard guard(*this);
    if (atDeclared(SymbolKind::TransformationStack)) {
        ParserToken name = take();
        std::shared_ptr<const Transform> base;
        if (active()) {
            if (auto* v = std::get_if<std::shared_ptr<const Transform>>(&name.symbolValue)) base = *v;
            if (!base) fatal("Can't find Transformation \"%s\" in symbol table", name.text.c_str());
        }
        if (!atChar('[')) return base;
        return parseStackItems(base);
    }
    expectKeyword(Keyword::TransformationStack);
    return parseStackItems(active() ? std::make_shared<const Transform>() : nullptr);
}

// The bracketed items of a stack, composed after `base`.
std::shared_ptr<const Transform> Parser::parseStackItems(std::shared_ptr<const Transform> base) {
    expectChar('[');
    Transform result = base ? *base : Transform{};
    while (!acceptChar(']')) {
        TransformItem t = parseTransformItem(true);
        if (!t.matched) transformItemError();
        if (active()) compose(result, t.transform);
    }
    return active() ? std::make_shared<const Transform>(result) : nullptr;
}

}  // namespace quorva
