// Symbol table: the three declaration words, shadowing, static entries across frames, requests.
#include "scene/symbol_table.h"

#include <gtest/gtest.h>

#include "diagnostics/diagnostics.h"
#include "eval/value.h"
#include "scene/builtins.h"
#include "trace/options.h"

namespace quorva {
namespace {

const Request* valueOf(const SymbolTable& table, const std::string& name) {
    const SymbolEntry* e = table.lookup(name);
    if (!e) return nullptr;
    const RequestPtr* r = std::get_if<RequestPtr>(&e->value);
    return r ? r->get() : nullptr;
}

RequestPtr twoTimes(RequestPtr x) {
    return makeOperatorRequest(RequestKind::Multiply, makeFloatRequest(2), std::move(x));
}

TEST(SymbolTable, DeclareEvaluatesAtOnceAndShadows) {
    SymbolTable table;
    EvalContext ctx;
    table.declare(DeclarationWord::Declare, "a", SymbolKind::Expression, twoTimes(makeFloatRequest(3)), ctx);
    ASSERT_NE(valueOf(table, "a"), nullptr);
    EXPECT_EQ(valueOf(table, "a")->kind, RequestKind::Float);  // stored as the constant 6
    EXPECT_EQ(valueOf(table, "a")->number, 6);
    const SymbolEntry* first = table.lookup("a");
    table.declare(DeclarationWord::Declare, "a", SymbolKind::Expression, makeVectorRequest({1, 2, 3}), ctx);
    EXPECT_EQ(valueOf(table, "a")->vector, Vec3(1, 2, 3));
    EXPECT_EQ(table.count("a"), 2u);                           // both kept, the newest wins
    EXPECT_EQ(std::get<RequestPtr>(first->value)->number, 6);  // earlier entries stay where they were
    // A string keeps its tree; names are case-sensitive.
    table.declare(DeclarationWord::Declare, "A", SymbolKind::Expression, makeStringRequest("s"), ctx);
    EXPECT_EQ(valueOf(table, "A")->kind, RequestKind::String);
    EXPECT_EQ(valueOf(table, "a")->kind, RequestKind::Vector);
    EXPECT_EQ(table.lookup("b"), nullptr);
}

TEST(SymbolTable, NewKeepsTheExpressionForEveryFrame) {
    SymbolTable table;
    AnimationCounters frames;
    EvalContext ctx;
    ctx.frames = &frames;
    table.declare(DeclarationWord::New, "f", SymbolKind::Expression,
                  twoTimes(makeLeafRequest(RequestKind::CurrentFrame)), ctx);
    table.declare(DeclarationWord::Declare, "d", SymbolKind::Expression,
                  twoTimes(makeLeafRequest(RequestKind::CurrentFrame)), ctx);
    frames.currentFrame = 3;
    EXPECT_EQ(evaluate(ctx, valueOf(table, "f")).number, 6);
    EXPECT_EQ(evaluate(ctx, valueOf(table, "d")).number, 0);  // evaluated when frame 0 declared it
}

TEST(SymbolTable, StaticEntriesSurviveFramesUnchanged) {
    SymbolTable table;
    AnimationCounters frames;
    frames.firstFrame = 1;
    frames.currentFrame = 1;
    EvalContext ctx;
    ctx.frames = &frames;

    // Frame 1: the static declaration is made (kept unevaluated) beside an ordinary one.
    ASSERT_NE(table.declare(DeclarationWord::Static, "s", SymbolKind::Expression,
                            twoTimes(makeLeafRequest(RequestKind::FirstFrame)), ctx),
              nullptr);
    table.declare(DeclarationWord::Declare, "t", SymbolKind::Expression, makeFloatRequest(1), ctx);
    EXPECT_EQ(valueOf(table, "s")->kind, RequestKind::Multiply);
    table.keepStaticEntries();
    EXPECT_EQ(table.lookup("t"), nullptr);
    ASSERT_NE(table.lookup("s"), nullptr);

    // Frame 2: the statement is parsed again but has no effect.
    frames.currentFrame = 2;
    EXPECT_EQ(table.declare(DeclarationWord::Static, "s", SymbolKind::Expression, makeFloatRequest(99), ctx),
              nullptr);
    EXPECT_EQ(evaluate(ctx, valueOf(table, "s")).number, 2);
    EXPECT_EQ(table.size(), 1u);
}

TEST(SymbolTable, StaticRedeclarationReplacesInPlace) {
    SymbolTable table;
    EvalContext ctx;  // no counters: treated as the first frame
    table.declare(DeclarationWord::Declare, "x", SymbolKind::Expression, makeFloatRequest(1), ctx);
    table.declare(DeclarationWord::Declare, "x", SymbolKind::Expression, makeFloatRequest(2), ctx);
    const SymbolEntry* newest = table.lookup("x");
    table.declare(DeclarationWord::Static, "x", SymbolKind::Expression, makeFloatRequest(3), ctx);
    EXPECT_EQ(table.lookup("x"), newest);
    EXPECT_EQ(table.count("x"), 2u);
    EXPECT_TRUE(newest->isStatic);
    EXPECT_EQ(valueOf(table, "x")->number, 3);
    // Only that entry survives the end of the frame.
    table.keepStaticEntries();
    EXPECT_EQ(table.count("x"), 1u);
    EXPECT_EQ(valueOf(table, "x")->number, 3);
    table.clear();
    EXPECT_EQ(table.size(), 0u);
}

TEST(SymbolTable, KindOfANameMayChange) {
    SymbolTable table;
    EvalContext ctx;
    table.declare(DeclarationWord::Declare, "n", SymbolKind::Expression, makeFloatRequest(1), ctx);
    table.declare(DeclarationWord::Declare, "n", SymbolKind::TransformationStack,
                  std::make_shared<const Transform>(), ctx);
    EXPECT_EQ(table.lookup("n")->kind, SymbolKind::TransformationStack);
    EXPECT_TRUE(isKnownSymbolKind(157));
    EXPECT_FALSE(isKnownSymbolKind(153));
    EXPECT_FALSE(isKnownSymbolKind(160));
}

TEST(Requests, CopyIsDeepAndMarksImagesShared) {
    RequestPtr image = makeImageRequest(nullptr, 1);
    RequestPtr tree = makeOperatorRequest(RequestKind::Add, makeStringRequest("abc"),
                                          makeArrayRequest({image, makeFloatRequest(2)}));
    RequestPtr copy = copyRequest(*tree);
    ASSERT_NE(copy->left, tree->left);
    EXPECT_EQ(copy->left->text, "abc");
    ASSERT_EQ(copy->right->elements.size(), 2u);
    EXPECT_NE(copy->right->elements[0], image);
    EXPECT_EQ(copy->right->elements[0]->shared, 1);
    EXPECT_EQ(copy->right->elements[0]->mappingMode, 1);
    EXPECT_EQ(image->shared, 0);
    EXPECT_EQ(toString(*copy), toString(*tree));

    Request bad;
    bad.kind = static_cast<RequestKind>(999);
    try {
        copyRequest(bad);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_STREQ(e.what(), "(internal failure 0x0b) Bad node type (999)");
    }
}

TEST(Requests, ConstantTestAndPrinting) {
    RequestPtr constant =
        makeOperatorRequest(RequestKind::Add, makeFloatRequest(1), buildCall("sin", {makeFloatRequest(0.5)}));
    EXPECT_TRUE(isConstantRequest(*constant));
    EXPECT_EQ(toString(*constant), "(1 + sin(0.5))");
    EXPECT_FALSE(isConstantRequest(*buildCall("sin", {buildCall("x", {})})));
    EXPECT_FALSE(isConstantRequest(*makeOperatorRequest(RequestKind::Add, makeFloatRequest(1),
                                                        makeLeafRequest(RequestKind::CurrentFrame))));
    EXPECT_FALSE(isConstantRequest(*makeLeafRequest(RequestKind::CurrentColor)));
    EXPECT_FALSE(isConstantRequest(*buildCall("random", {})));
    EXPECT_FALSE(isConstantRequest(
        *makeVectorExpression(makeFloatRequest(1), buildCall("u", {}), makeFloatRequest(0))));
    EXPECT_EQ(toString(*makeOperatorRequest(RequestKind::Choice, makeFloatRequest(1), makeFloatRequest(2),
                                            makeLeafRequest(RequestKind::CurrentFrame))),
              "(CurrentFrame ? 1 : 2)");
}

}  // namespace
}  // namespace quorva
