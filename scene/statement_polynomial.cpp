// PolynomialSurface: the polynomial in x, y and z is written as an expression of numbers, the three
// coordinates, + - *, integer powers with ^ and parentheses, and expanded here into its monomials.
// The order (largest total power) is checked as the expansion goes, so no intermediate product ever
// exceeds the order a surface may have.
#include <cmath>
#include <map>
#include <tuple>

#include "diagnostics/diagnostics.h"
#include "geometry/shapes.h"
#include "scene/scene_state.h"
#include "scene/statement_parser.h"

namespace quorva {

namespace {

constexpr int MaxPolynomialOrder = 32;

// Coefficient per exponent triple (i, j, k) of x^i y^j z^k.
using Polynomial = std::map<std::tuple<int, int, int>, double>;

int order(const Polynomial& p) {
    int n = 0;
    for (const auto& [e, c] : p) n = std::max(n, std::get<0>(e) + std::get<1>(e) + std::get<2>(e));
    return n;
}

Polynomial constant(double c) {
    return Polynomial{{{0, 0, 0}, c}};
}

void addInto(Polynomial& a, const Polynomial& b, double sign) {
    for (const auto& [e, c] : b) a[e] += sign * c;
}

Polynomial multiply(const Polynomial& a, const Polynomial& b) {
    if (order(a) + order(b) > MaxPolynomialOrder) fatal("Maximum Polynomial order reached");
    Polynomial r;
    for (const auto& [ea, ca] : a)
        for (const auto& [eb, cb] : b)
            r[{std::get<0>(ea) + std::get<0>(eb), std::get<1>(ea) + std::get<1>(eb),
               std::get<2>(ea) + std::get<2>(eb)}] += ca * cb;
    return r;
}

}  // namespace

// Reads and expands the polynomial over the parser's tokens (nothing is built in a branch not taken).
class PolynomialReader {
  public:
    explicit PolynomialReader(Parser& parser) : parser_(parser), build_(parser.active()) {}

    // polynomial := poly-term { ( '+' | '-' ) poly-term }
    Polynomial readSum() {
        Polynomial sum = readTerm();
        for (;;) {
            double sign;
            if (at('+'))
                sign = 1;
            else if (at('-'))
                sign = -1;
            else
                return sum;
            parser_.take();
            Polynomial term = readTerm();
            if (build_) addInto(sum, term, sign);
        }
    }

  private:
    bool at(char c) { return parser_.atChar(c); }

    // poly-term := poly-factor { '*' poly-factor }
    Polynomial readTerm() {
        Polynomial product = readFactor();
        while (at('*')) {
            parser_.take();
            Polynomial factor = readFactor();
            if (build_) product = multiply(product, factor);
        }
        return product;
    }

    // poly-factor := '-' poly-factor | poly-power
    Polynomial readFactor() {
        NestingGuard guard(parser_);
        if (at('-')) {
            parser_.take();
            Polynomial p = readFactor();
            for (auto& [e, c] : p) c = -c;
            return p;
        }
        return readPower();
    }

    // poly-power := poly-primary [ '^' number ]   (a whole number, 0 or more)
    Polynomial readPower() {
        Polynomial base = readPrimary();
        if (!at('^')) return base;
        parser_.take();
        if (parser_.peek().kind != static_cast<int>(TokenKind::Number)) parser_.syntaxError();
        double exponent = parser_.take().number;
        if (exponent != std::floor(exponent) || exponent < 0) parser_.syntaxError();
        if (!build_) return base;
        int baseOrder = order(base);
        if (baseOrder == 0) {
            double c = base.empty() ? 0 : base.begin()->second;
            return constant(std::pow(c, exponent));
        }
        if (exponent * baseOrder > MaxPolynomialOrder) fatal("Maximum Polynomial order reached");
        Polynomial result = constant(1);
        for (int i = 0; i < static_cast<int>(exponent); ++i) result = multiply(result, base);
        return result;
    }

    // poly-primary := number | x | y | z | '(' polynomial ')'
    Polynomial readPrimary() {
        const ParserToken& t = parser_.peek();
        if (t.kind == static_cast<int>(TokenKind::Number)) return constant(parser_.take().number);
        if (t.kind == '(') {
            parser_.take();
            Polynomial p = readSum();
            if (!at(')')) parser_.syntaxError();
            parser_.take();
            return p;
        }
        bool name = t.kind == static_cast<int>(TokenKind::NewName) ||
                    t.kind == static_cast<int>(TokenKind::DeclaredName);
        if (name && (t.text == "x" || t.text == "y" || t.text == "z")) {
            char axis = parser_.take().text[0];
            return Polynomial{{{axis == 'x', axis == 'y', axis == 'z'}, 1.0}};
        }
        parser_.syntaxError();
        return {};
    }

    Parser& parser_;
    bool build_;
};

// polynomial-surface := PolynomialSurface '(' polynomial ')'
ShapeBuild Parser::parsePolynomialSurface() {
    expectKeyword(Keyword::PolynomialSurface);
    expectChar('(');
    PolynomialReader reader(*this);
    Polynomial p = reader.readSum();
    expectChar(')');
    if (!active()) return makeBuild(nullptr, ShapeKind::PolynomialSurface, "PolynomialSurface");
    std::vector<PolynomialTerm> terms;
    for (const auto& [e, c] : p)
        if (c != 0) terms.push_back({c, std::get<0>(e), std::get<1>(e), std::get<2>(e)});
    return makeBuild(makePolynomialSurface(terms), ShapeKind::PolynomialSurface, "PolynomialSurface");
}

}  // namespace quorva
