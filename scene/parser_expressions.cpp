// Expressions of the scene language and the values statements evaluate at once (f, n, v, s).
//
// Binary operators are read by precedence climbing over one table, lowest first:
//   ||   &&   < > <= >= ==   + -   * / % .   ^ (right-associative)
// then the prefix operators - and ! and last the postfix index a [ i ]. Operands of every level are
// left-associative except ^. "!=" has no rule: the lexer returns it and the parser rejects it.
#include <cmath>
#include <limits>

#include "diagnostics/diagnostics.h"
#include "eval/spectrum.h"
#include "scene/builtins.h"
#include "scene/scene_state.h"
#include "scene/statement_parser.h"

namespace quorva {

namespace {

struct BinaryOperator {
    int token;
    int precedence;
    bool rightAssociative;
    RequestKind kind;
    bool comparison;
    bool logic;
};

constexpr int tk(TokenKind k) {
    return static_cast<int>(k);
}

constexpr BinaryOperator BinaryOperators[] = {
    {tk(TokenKind::OrOr), 1, false, RequestKind::Or, false, true},
    {tk(TokenKind::AndAnd), 2, false, RequestKind::And, false, true},
    {'<', 3, false, RequestKind::Less, true, false},
    {'>', 3, false, RequestKind::Greater, true, false},
    {tk(TokenKind::LessEqual), 3, false, RequestKind::LessEqual, true, false},
    {tk(TokenKind::GreaterEqual), 3, false, RequestKind::GreaterEqual, true, false},
    {tk(TokenKind::EqualEqual), 3, false, RequestKind::Equal, true, false},
    {'+', 4, false, RequestKind::Add, false, false},
    {'-', 4, false, RequestKind::Subtract, false, false},
    {'*', 5, false, RequestKind::Multiply, false, false},
    {'/', 5, false, RequestKind::Divide, false, false},
    {'%', 5, false, RequestKind::Remainder, false, false},
    {'.', 5, false, RequestKind::Dot, false, false},
    {'^', 6, true, RequestKind::Power, false, false},
};

const BinaryOperator* findBinaryOperator(int token) {
    for (const BinaryOperator& op : BinaryOperators)
        if (op.token == token) return &op;
    return nullptr;
}

bool isFloatConstant(const RequestPtr& r) {
    return r && r->kind == RequestKind::Float;
}

// (a, b, c[, d]); all-constant components are folded into one vector constant, which evaluates the
// same and saves the per-component nodes of the many literal points a scene holds.
RequestPtr makeVector(RequestPtr a, RequestPtr b, RequestPtr c, RequestPtr d) {
    if (!a) return nullptr;
    if (isFloatConstant(a) && isFloatConstant(b) && isFloatConstant(c) && (!d || isFloatConstant(d)))
        return makeVectorRequest({a->number, b->number, c->number}, d ? d->number : 0, d != nullptr);
    return makeVectorExpression(std::move(a), std::move(b), std::move(c), std::move(d));
}

}  // namespace

RequestPtr Parser::treeOf(Expr&& e) {
    if (e.literal && active()) return makeFloatRequest(e.number);
    if (e.vectorLiteral) return makeVectorRequest(e.vector, e.fourth, e.hasFourth);
    return std::move(e.tree);
}

// expression := unary { binary-operator unary }   (precedence climbing)
Expr Parser::parseExpr() {
    return parseBinary(0, parseUnary());
}

// binary := left { operator of precedence >= minPrecedence, right operand climbed to its precedence }
Expr Parser::parseBinary(int minPrecedence, Expr left) {
    NestingGuard guard(*this);
    for (;;) {
        const BinaryOperator* op = findBinaryOperator(peek().kind);
        if (!op || op->precedence < minPrecedence) return left;
        advance();
        Expr right = parseUnary();
        for (;;) {
            const BinaryOperator* next = findBinaryOperator(peek().kind);
            if (!next) break;
            if (next->precedence > op->precedence)
                right = parseBinary(op->precedence + 1, std::move(right));
            else if (next->rightAssociative && next->precedence == op->precedence)
                right = parseBinary(op->precedence, std::move(right));
            else
                break;
        }
        Expr combined;
        combined.condition = op->comparison || (op->logic && left.condition && right.condition);
        if (active())
            combined.tree = makeOperatorRequest(op->kind, treeOf(std::move(left)), treeOf(std::move(right)));
        left = std::move(combined);
    }
}

// unary := '-' unary | '!' unary | postfix
Expr Parser::parseUnary() {
    NestingGuard guard(*this);
    if (acceptChar('-')) {
        Expr operand = parseUnary();
        // Negation is multiplication by -1; a literal is negated directly (the same value).
        if (operand.literal) {
            operand.number = -operand.number;
            return operand;
        }
        Expr result;
        if (active())
            result.tree =
                makeOperatorRequest(RequestKind::Multiply, makeFloatRequest(-1), treeOf(std::move(operand)));
        return result;
    }
    if (acceptChar('!')) {
        Expr operand = parseUnary();
        Expr result;
        result.condition = operand.condition;
        if (active()) result.tree = makeOperatorRequest(RequestKind::Not, treeOf(std::move(operand)));
        return result;
    }
    return parsePostfix(parsePrimary());
}

// postfix := primary { '[' expression ']' }
Expr Parser::parsePostfix(Expr operand) {
    while (acceptChar('[')) {
        RequestPtr index = parseExpression();
        expectChar(']');
        Expr indexed;
        if (active())
            indexed.tree =
                makeOperatorRequest(RequestKind::Index, treeOf(std::move(operand)), std::move(index));
        operand = std::move(indexed);
    }
    return operand;
}

// primary := number | string | expression-name | name [ '(' arguments ')' ] | group | quoted-vector
//          | brace-form | array | '|' expression '|' | keyword-expression
Expr Parser::parsePrimary() {
    NestingGuard guard(*this);
    const ParserToken& t = peek();
    Expr result;
    switch (t.kind) {
        case tk(TokenKind::Number):
            result.literal = true;
            result.number = t.number;
            advance();
            return result;
        case tk(TokenKind::String): {
            std::string s = take().text;
            if (active()) result.tree = makeStringRequest(std::move(s));
            return result;
        }
        case tk(TokenKind::DeclaredName): {
            if (t.symbolKind != SymbolKind::Expression)
                fatal("Can't find expression \"%s\" in symbol table", t.text.c_str());
            ParserToken name = take();
            if (active()) {
                if (auto* value = std::get_if<RequestPtr>(&name.symbolValue)) result.tree = *value;
                if (!result.tree) fatal("Can't find expression \"%s\" in symbol table", name.text.c_str());
            }
            return result;
        }
        case tk(TokenKind::NewName):
            result.tree = parseNameExpression();
            return result;
        case '(':
            return groupToExpression(parseParenGroup(std::nullopt));
        case '\'':
            result.tree = parseQuotedVector();
            return result;
        case '{':
            result.tree = parseBraceForm();
            return result;
        case '[':
            result.tree = parseArray();
            return result;
        case '|': {
            advance();
            RequestPtr operand = parseExpression();
            expectChar('|');
            if (active()) result.tree = makeOperatorRequest(RequestKind::Abs, std::move(operand));
            return result;
        }
        case tk(TokenKind::Keyword):
            result.tree = parseKeywordExpression();
            return result;
        default:
            syntaxError();
    }
}

// group := '(' expression ')' | '(' e ',' e ',' e [ ',' e ] ')' | '(' e '?' e ':' e ')'
//          (with a marker: '(' e ',' marker ')'; a two-item group is left to the caller)
ParenGroup Parser::parseParenGroup(std::optional<Keyword> marker) {
    expectChar('(');
    ParenGroup group;
    group.items.push_back(parseExpr());
    if (acceptChar('?')) {
        Expr a = parseExpr();
        expectChar(':');
        Expr b = parseExpr();
        expectChar(')');
        Expr choice;
        if (active())
            choice.tree = makeOperatorRequest(RequestKind::Choice, treeOf(std::move(a)), treeOf(std::move(b)),
                                              treeOf(std::move(group.items[0])));
        group.items[0] = std::move(choice);
        return group;
    }
    while (acceptChar(',')) {
        if (marker && group.items.size() == 1 && acceptKeyword(*marker)) {
            group.marker = true;
            break;
        }
        if (group.items.size() == 4) syntaxError();
        group.items.push_back(parseExpr());
    }
    expectChar(')');
    return group;
}

// A group used as an operand: a parenthesised expression keeps its form, three or four items are a vector.
Expr Parser::groupToExpression(ParenGroup&& group) {
    if (group.marker) syntaxError();
    auto& items = group.items;
    if (items.size() == 1) return std::move(items[0]);
    if (items.size() < 3) syntaxError();
    Expr result;
    if (!active()) return result;
    bool literals = true;
    for (const Expr& item : items) literals = literals && item.literal;
    if (literals) {
        result.vectorLiteral = true;
        result.vector = {items[0].number, items[1].number, items[2].number};
        result.hasFourth = items.size() == 4;
        result.fourth = result.hasFourth ? items[3].number : 0;
    } else
        result.tree =
            makeVector(treeOf(std::move(items[0])), treeOf(std::move(items[1])), treeOf(std::move(items[2])),
                       items.size() == 4 ? treeOf(std::move(items[3])) : nullptr);
    return result;
}

std::vector<RequestPtr> Parser::parseExpressionOrPair(std::optional<Keyword> marker, bool* sawMarker) {
    if (sawMarker) *sawMarker = false;
    if (!atChar('(')) return {parseExpression()};
    ParenGroup group = parseParenGroup(marker);
    if (group.marker) {
        if (sawMarker) *sawMarker = true;
        return {treeOf(std::move(group.items[0]))};
    }
    if (group.items.size() == 2)
        return {treeOf(std::move(group.items[0])), treeOf(std::move(group.items[1]))};
    // Not a pair: the group starts an ordinary expression.
    return {treeOf(parseBinary(0, parsePostfix(groupToExpression(std::move(group)))))};
}

// quoted-vector := '\'' e ',' e ',' e [ ',' e ] '\''
RequestPtr Parser::parseQuotedVector() {
    expectChar('\'');
    ParenGroup group;
    do {
        if (group.items.size() == 4) syntaxError();
        group.items.push_back(parseExpr());
    } while (acceptChar(','));
    expectChar('\'');
    if (group.items.size() < 3) syntaxError();
    return treeOf(groupToExpression(std::move(group)));
}

// brace-form := '{' e ',' e '}' | '{' e ':' e ',' e '}'
RequestPtr Parser::parseBraceForm() {
    expectChar('{');
    RequestPtr first = parseExpression();
    RequestPtr weight, a, b;
    if (acceptChar(':')) {
        weight = std::move(first);
        a = parseExpression();
    } else {
        a = std::move(first);
        if (active()) weight = makeFloatRequest(1);
    }
    expectChar(',');
    b = parseExpression();
    expectChar('}');
    return active() ? makeVectorExpression(std::move(weight), std::move(a), std::move(b)) : nullptr;
}

// array := '[' e { ',' e } ']'
RequestPtr Parser::parseArray() {
    expectChar('[');
    std::vector<RequestPtr> elements;
    do {
        elements.push_back(parseExpression());
    } while (acceptChar(','));
    expectChar(']');
    return active() ? makeArrayRequest(std::move(elements)) : nullptr;
}

// arguments := e { ',' e }
std::vector<RequestPtr> Parser::parseArgumentList() {
    expectChar('(');
    std::vector<RequestPtr> arguments;
    do {
        arguments.push_back(parseExpression());
    } while (acceptChar(','));
    expectChar(')');
    return arguments;
}

// name-expression := constant-word | name [ '(' arguments ')' ]   (a built-in function or constant)
RequestPtr Parser::parseNameExpression() {
    std::string name = take().text;
    if (words_ && !atChar('(')) {
        for (const ConstantWord& w : *words_)
            if (name == w.name) return active() ? makeFloatRequest(w.value) : nullptr;
    }
    std::vector<RequestPtr> arguments;
    if (atChar('(')) arguments = parseArgumentList();
    if (!active()) return nullptr;
    return buildCall(name, arguments, scene_.symbols.get());
}

// keyword-expression := noise '(' e [ ',' e ] ')' | Rotate '(' e ',' e ',' e ')' | Scale '(' e ',' e ')'
//                     | Translate '(' e ',' e ')' | Color | CurrentFrame | LastFrame | FirstFrame
//                     | AnimationLength | colour-spectrum
RequestPtr Parser::parseKeywordExpression() {
    Keyword k = peek().keyword;
    auto frameValue = [&](RequestKind kind) -> RequestPtr {
        advance();
        return active() ? makeLeafRequest(kind) : nullptr;
    };
    switch (k) {
        case Keyword::Color:
            return frameValue(RequestKind::CurrentColor);
        case Keyword::CurrentFrame:
            return frameValue(RequestKind::CurrentFrame);
        case Keyword::LastFrame:
            return frameValue(RequestKind::LastFrame);
        case Keyword::FirstFrame:
            return frameValue(RequestKind::FirstFrame);
        case Keyword::AnimationLength:
            return frameValue(RequestKind::AnimationLength);
        case Keyword::SpectrumOfColors:
            return parseColorSpectrum(false);
        case Keyword::Noise:
        case Keyword::Rotate:
        case Keyword::Scale:
        case Keyword::Translate:
            break;
        default:
            syntaxError();
    }
    advance();
    std::vector<RequestPtr> a = parseArgumentList();
    std::size_t n = a.size();
    // The point comes first: noise ( point [ , octaves ] ), Rotate ( point , axis , angle in degrees ),
    // Scale ( point , factor ), Translate ( point , offset ).
    switch (k) {
        case Keyword::Noise:
            if (n > 2) syntaxError();
            return active() ? makeOperatorRequest(RequestKind::Noise, a[0], n > 1 ? a[1] : nullptr) : nullptr;
        case Keyword::Rotate:
            if (n != 3) syntaxError();
            return active() ? makeOperatorRequest(RequestKind::RotateExpression, a[0], a[1], a[2]) : nullptr;
        case Keyword::Scale:
            if (n != 2) syntaxError();
            return active() ? makeOperatorRequest(RequestKind::ScaleExpression, a[0], a[1]) : nullptr;
        default:
            if (n != 2) syntaxError();
            return active() ? makeOperatorRequest(RequestKind::TranslateExpression, a[0], a[1]) : nullptr;
    }
}

// colour-spectrum := SpectrumOfColors '(' colour-entry { colour-entry } [ ',' e ] ')'
// colour-entry := '[' f ',' v ',' f ',' v ']' | '[' f ',' v ',' f ',' f ',' v ',' f ']'
RequestPtr Parser::parseColorSpectrum(bool asIndex, bool* trailing) {
    expectKeyword(Keyword::SpectrumOfColors);
    expectChar('(');
    auto spectrum = std::make_shared<ColorSpectrum>();
    std::vector<ColorSpectrumEntry>& entries = spectrum->entries;
    do {
        expectChar('[');
        ColorSpectrumEntry entry;
        entry.position[0] = parseFloat();
        expectChar(',');
        entry.colour[0] = Color(parseVector());
        expectChar(',');
        double third = parseFloat();
        expectChar(',');
        // Four items are the short form (the fourth is the second colour), six the long form.
        RequestPtr fourth = parseExpression();
        if (acceptChar(',')) {
            entry.extra[0] = third;
            entry.position[1] = evaluateFloat(fourth);
            entry.colour[1] = Color(parseVector());
            expectChar(',');
            entry.extra[1] = parseFloat();
        } else {
            entry.position[1] = third;
            entry.colour[1] = Color(evaluateVector(fourth));
        }
        expectChar(']');
        if (active()) entries.push_back(entry);
    } while (atChar('['));
    bool hasTrailing = acceptChar(',');
    if (hasTrailing) {
        if (asIndex)
            spectrum->index = parseExpression();
        else
            spectrum->defaultColour = Color(parseVector());
    }
    expectChar(')');
    if (trailing) *trailing = hasTrailing;
    if (!active()) return nullptr;
    return makeSpectrumRequest(std::move(spectrum));
}

// ---- values evaluated at once ----

double Parser::evaluateFloat(const RequestPtr& e) {
    if (!active()) return 0;
    Value v = evaluate(evalContext(), e.get());
    if (!v.isNumber()) fatal("Bad float expression");
    return v.number;
}

Vec3 Parser::evaluateVector(const RequestPtr& e, double* fourth) {
    if (!active()) return {};
    Value v = evaluate(evalContext(), e.get());
    if (!v.isVector()) fatal("Bad point/vector/color expression");
    if (fourth) *fourth = v.fourth;
    return v.vector;
}

// f := expression yielding a number
double Parser::parseFloat(const std::vector<ConstantWord>* words) {
    const std::vector<ConstantWord>* saved = words_;
    words_ = words;
    Expr e = parseExpr();
    words_ = saved;
    if (e.literal) return active() ? e.number : 0;
    return evaluateFloat(treeOf(std::move(e)));
}

// n := f truncated toward zero. Values outside the 32-bit range saturate and NaN gives 0, so no
// conversion is undefined.
int Parser::parseInt(const std::vector<ConstantWord>* words) {
    double f = parseFloat(words);
    if (std::isnan(f)) return 0;
    if (f >= 2147483647.0) return std::numeric_limits<int>::max();
    if (f <= -2147483648.0) return std::numeric_limits<int>::min();
    return static_cast<int>(f);
}

// v := expression yielding a vector or colour
Vec3 Parser::parseVector(double* fourth) {
    Expr e = parseExpr();
    if (e.vectorLiteral) {
        // What evaluating its vector node gives, without the node.
        if (fourth) *fourth = e.fourth;
        return e.vector;
    }
    return evaluateVector(treeOf(std::move(e)), fourth);
}

// s := string
std::string Parser::parseString() {
    if (!atKind(TokenKind::String)) syntaxError();
    return take().text;
}

}  // namespace quorva
