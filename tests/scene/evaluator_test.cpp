// Expression evaluation: operator rules, choice, indexing, frame and shading values, nesting limits.
#include <gtest/gtest.h>

#include "support/fatal_text.h"

#include <cmath>

#include "diagnostics/diagnostics.h"
#include "eval/evaluator.h"
#include "eval/value.h"
#include "scene/builtins.h"
#include "trace/options.h"

namespace quorva {
namespace {

RequestPtr num(double x) {
    return makeFloatRequest(x);
}
RequestPtr vec(double x, double y, double z) {
    return makeVectorRequest({x, y, z});
}
RequestPtr vec4(double x, double y, double z, double w) {
    return makeVectorRequest({x, y, z}, w, true);
}
RequestPtr op(RequestKind k, RequestPtr a, RequestPtr b = nullptr, RequestPtr c = nullptr) {
    return makeOperatorRequest(k, std::move(a), std::move(b), std::move(c));
}

Value eval(const RequestPtr& r, const EvalContext& ctx = EvalContext{}) {
    return evaluate(ctx, r);
}

using testing::fatalText;

TEST(Evaluator, ArithmeticOnNumbersAndVectors) {
    EXPECT_EQ(eval(op(RequestKind::Add, num(2), num(3))).number, 5);
    EXPECT_EQ(eval(op(RequestKind::Subtract, num(2), num(3))).number, -1);
    Value v = eval(op(RequestKind::Add, vec4(1, 2, 3, 0.5), vec4(1, 1, 1, 0.25)));
    EXPECT_EQ(v.vector, Vec3(2, 3, 4));
    EXPECT_EQ(v.fourth, 0.75);  // all four components
    EXPECT_TRUE(eval(op(RequestKind::Add, num(1), vec(1, 1, 1))).isNone());
    EXPECT_EQ(eval(op(RequestKind::Multiply, num(2), vec(1, 2, 3))).vector, Vec3(2, 4, 6));
    EXPECT_EQ(eval(op(RequestKind::Multiply, vec(1, 2, 3), num(2))).vector, Vec3(2, 4, 6));
    // vector * vector is the cross product, ^ the component product.
    EXPECT_EQ(eval(op(RequestKind::Multiply, vec(1, 0, 0), vec(0, 1, 0))).vector, Vec3(0, 0, 1));
    EXPECT_EQ(eval(op(RequestKind::Power, vec(1, 2, 3), vec(2, 2, 2))).vector, Vec3(2, 4, 6));
    EXPECT_EQ(eval(op(RequestKind::Dot, vec(1, 2, 3), vec(4, 5, 6))).number, 32);
    EXPECT_TRUE(eval(op(RequestKind::Dot, num(1), num(2))).isNone());
}

TEST(Evaluator, Division) {
    EXPECT_TRUE(std::isinf(eval(op(RequestKind::Divide, num(1), num(0))).number));  // not checked
    EXPECT_EQ(eval(op(RequestKind::Divide, vec(2, 4, 6), num(2))).vector, Vec3(1, 2, 3));
    EXPECT_EQ(fatalText([] { eval(op(RequestKind::Divide, vec(1, 2, 3), num(0))); }),
              "(internal failure 0x14) Division by 0");
    Value c = eval(op(RequestKind::Divide, vec4(1, 0, 0, 1), vec4(0, 1, 0, 4)));
    EXPECT_EQ(c.vector, Vec3(0, 0, 1));
    EXPECT_EQ(c.fourth, 0.25);
    EXPECT_EQ(eval(op(RequestKind::Divide, vec4(1, 0, 0, 1), vec(0, 1, 0))).fourth, 0);
}

TEST(Evaluator, PowerAndRemainderRules) {
    auto power = [](double a, double b) { return eval(op(RequestKind::Power, num(a), num(b))).number; };
    EXPECT_EQ(power(0, 0), 0);
    EXPECT_EQ(power(0, -2), 0);
    EXPECT_EQ(power(5, 0), 1);
    EXPECT_EQ(power(-7, 1), -7);
    EXPECT_EQ(power(2, 10), 1024);
    EXPECT_EQ(power(-2, 3), -8);
    EXPECT_EQ(power(-2, 2), 4);
    EXPECT_DOUBLE_EQ(power(-4, 0.5), -2);  // the sign is kept instead of NaN
    EXPECT_DOUBLE_EQ(power(-2, -1), -0.5);
    EXPECT_DOUBLE_EQ(power(-2, -2), 0.25);  // an even power is positive for negative exponents too
    auto rem = [](double a, double b) { return eval(op(RequestKind::Remainder, num(a), num(b))).number; };
    EXPECT_EQ(rem(7, 3), 1);
    EXPECT_EQ(rem(-7, 3), -1);
    EXPECT_EQ(rem(1e-9, 0), 0);  // below 1e-8 the remainder is 0 whatever b is
    EXPECT_TRUE(eval(op(RequestKind::Remainder, vec(1, 1, 1), num(2))).isNone());
}

TEST(Evaluator, AbsIndexAndChoice) {
    EXPECT_EQ(eval(op(RequestKind::Abs, num(-3))).number, 3);
    EXPECT_EQ(eval(op(RequestKind::Abs, vec(3, 4, 0))).number, 5);
    EXPECT_EQ(eval(op(RequestKind::Index, vec(4, 5, 6), num(1))).number, 5);
    EXPECT_EQ(eval(op(RequestKind::Index, vec(4, 5, 6), num(2.9))).number, 6);
    EXPECT_EQ(eval(op(RequestKind::Index, vec4(4, 5, 6, 7), num(3))).number, 7);
    auto array = makeArrayRequest({num(7), num(8), num(9)});
    EXPECT_EQ(eval(op(RequestKind::Index, array, num(2))).number, 9);
    EXPECT_EQ(fatalText([&] { eval(op(RequestKind::Index, array, num(3))); }),
              "Array index (3) out of range");
    EXPECT_EQ(fatalText([&] { eval(op(RequestKind::Index, array, num(-1))); }),
              "Array index (-1) out of range");
    EXPECT_EQ(fatalText([] { eval(op(RequestKind::Index, num(1), num(0))); }), "Float expected");
    EXPECT_EQ(eval(op(RequestKind::Choice, num(10), num(20), num(0))).number, 20);
    EXPECT_EQ(eval(op(RequestKind::Choice, num(10), num(20), num(-0.5))).number, 10);
    EXPECT_TRUE(eval(op(RequestKind::Choice, num(10), num(20), vec(1, 1, 1))).isNone());
}

TEST(Evaluator, ComparisonsAndLogic) {
    auto b = [](RequestKind k, double x, double y) { return eval(op(k, num(x), num(y))).number; };
    EXPECT_EQ(b(RequestKind::Less, 1, 2), 1);
    EXPECT_EQ(b(RequestKind::Greater, 1, 2), 0);
    EXPECT_EQ(b(RequestKind::LessEqual, 2, 2), 1);
    EXPECT_EQ(b(RequestKind::GreaterEqual, 1, 2), 0);
    EXPECT_EQ(b(RequestKind::Equal, 2, 2), 1);
    EXPECT_EQ(b(RequestKind::And, 1, 0), 0);
    EXPECT_EQ(b(RequestKind::Or, 0, 3), 1);
    EXPECT_EQ(eval(op(RequestKind::Not, num(0))).number, 1);
    EXPECT_TRUE(eval(op(RequestKind::Less, vec(1, 1, 1), num(2))).isNone());
    // Both operands are evaluated even when the left one decides the result.
    auto array = makeArrayRequest({num(1)});
    EXPECT_THROW(eval(op(RequestKind::And, num(0), op(RequestKind::Index, array, num(5)))), FatalError);
    EXPECT_THROW(eval(op(RequestKind::Or, num(1), op(RequestKind::Index, array, num(5)))), FatalError);
}

TEST(Evaluator, VectorExpressionsAndPairs) {
    Value v = eval(makeVectorExpression(num(1), op(RequestKind::Add, num(1), num(1)), num(3), num(0.5)));
    EXPECT_EQ(v.vector, Vec3(1, 2, 3));
    EXPECT_EQ(v.fourth, 0.5);
    EXPECT_TRUE(eval(makeVectorExpression(num(1), vec(1, 1, 1), num(3))).isNone());
    // { a , b } is the vector (1, a, b).
    EXPECT_EQ(eval(makeVectorExpression(num(1), num(4), num(5))).vector, Vec3(1, 4, 5));
    RequestPtr text = makeStringRequest("t");
    Value s = eval(text);
    EXPECT_EQ(s.type, Value::Type::Other);
    EXPECT_EQ(s.other, text.get());  // the node itself
}

TEST(Evaluator, TransformExpressions) {
    Value t = eval(op(RequestKind::TranslateExpression, vec(1, 2, 3), vec(1, 1, 1)));
    EXPECT_EQ(t.vector, Vec3(2, 3, 4));
    EXPECT_EQ(eval(op(RequestKind::ScaleExpression, vec(1, 2, 3), num(2))).vector, Vec3(2, 4, 6));
    EXPECT_EQ(eval(op(RequestKind::ScaleExpression, vec(1, 2, 3), vec(2, 0, 1))).vector, Vec3(2, 0, 3));
    Value r = eval(op(RequestKind::RotateExpression, vec(1, 0, 0), vec(0, 0, 2), num(90)));
    EXPECT_NEAR(r.vector.x, 0, 1e-12);
    EXPECT_NEAR(r.vector.y, 1, 1e-12);
}

TEST(Evaluator, FrameValuesAndColourWithoutShading) {
    AnimationCounters frames;
    frames.currentFrame = 4;
    frames.lastFrame = 9;
    frames.firstFrame = 2;
    frames.animationLength = 10;
    EvalContext ctx;
    ctx.frames = &frames;
    EXPECT_EQ(eval(makeLeafRequest(RequestKind::CurrentFrame), ctx).number, 4);
    EXPECT_EQ(eval(makeLeafRequest(RequestKind::LastFrame), ctx).number, 9);
    EXPECT_EQ(eval(makeLeafRequest(RequestKind::FirstFrame), ctx).number, 2);
    EXPECT_EQ(eval(makeLeafRequest(RequestKind::AnimationLength), ctx).number, 10);
    EXPECT_EQ(eval(makeLeafRequest(RequestKind::CurrentFrame)).number, 0);
    Value c = eval(makeLeafRequest(RequestKind::CurrentColor));
    EXPECT_EQ(c.vector, Vec3(1, 1, 1));  // white at parse time
    EXPECT_TRUE(eval(buildCall("x", {})).isNone());
    EXPECT_TRUE(eval(buildCall("N", {})).isNone());
}

TEST(Evaluator, ShadingVariables) {
    ShadingContext sc;
    sc.P = {1, 2, 3};
    sc.N = {0, 1, 0};
    sc.u = 0.25;
    sc.level = 2;
    sc.color = {0.5, 0.25, 0};
    sc.colorFourth = 0.5;
    EvalContext ctx;
    ctx.shading = &sc;
    EXPECT_EQ(eval(buildCall("y", {}), ctx).number, 2);
    EXPECT_EQ(eval(buildCall("P", {}), ctx).vector, Vec3(1, 2, 3));
    EXPECT_EQ(eval(buildCall("N", {}), ctx).vector, Vec3(0, 1, 0));
    EXPECT_EQ(eval(buildCall("u", {}), ctx).number, 0.25);
    EXPECT_EQ(eval(buildCall("Level", {}), ctx).number, 2);
    Value c = eval(makeLeafRequest(RequestKind::CurrentColor), ctx);
    EXPECT_EQ(c.vector, Vec3(0.5, 0.25, 0));
    EXPECT_EQ(c.fourth, 0.5);
}

TEST(Evaluator, NullNodeAndDeepNesting) {
    EvalContext ctx;
    EXPECT_EQ(fatalText([&] { evaluate(ctx, static_cast<const Request*>(nullptr)); }),
              "(internal failure 0x2f) NULL request unexpected");
    // A long left-leaning chain is stopped with a clear message instead of overflowing the stack,
    // and destroying it does not recurse either.
    RequestPtr chain = num(1);
    for (int i = 0; i < 100000; ++i) chain = op(RequestKind::Add, chain, num(1));
    EXPECT_EQ(fatalText([&] { evaluate(ctx, chain); }),
              "Expression nested too deeply (more than " + std::to_string(MaxRequestDepth) + " levels)");
    EXPECT_THROW(copyRequest(*chain), FatalError);
    chain.reset();
    // The limit itself is accepted.
    RequestPtr fine = num(0);
    for (int i = 0; i < MaxRequestDepth; ++i) fine = op(RequestKind::Add, fine, num(1));
    EXPECT_EQ(evaluate(ctx, fine).number, MaxRequestDepth);
    EXPECT_EQ(evaluate(ctx, copyRequest(*fine)).number, MaxRequestDepth);
    EXPECT_THROW(evaluate(ctx, op(RequestKind::Add, fine, num(1))), FatalError);
    // The same for nested calls, vectors and choices.
    RequestPtr calls = num(-2);
    for (int i = 0; i < MaxRequestDepth / 2; ++i)
        calls = buildCall("fabs", {makeVectorExpression(num(0), num(0), calls)});
    EXPECT_TRUE(evaluate(ctx, calls).isNone());
    RequestPtr choices = num(5);
    for (int i = 0; i < MaxRequestDepth; ++i) choices = op(RequestKind::Choice, choices, num(0), num(1));
    EXPECT_EQ(evaluate(ctx, choices).number, 5);
}

}  // namespace
}  // namespace quorva
