#include "analysis/input/restriction.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <utility>

#include "analysis/common/errors.h"

namespace qvd::analysis {
namespace {

struct Token {
  enum Kind { number, name, plus, minus, times, equals, end };
  Token(Kind k = end, double v = 0, std::string t = {}) : kind(k), value(v), text(std::move(t)) {}
  Kind kind;
  double value;
  std::string text;
};

class Lexer {
 public:
  explicit Lexer(const std::string &text) : text_(text) {}

  Token next() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    if (pos_ == text_.size()) return {};
    const char ch = text_[pos_];
    if (std::isdigit(static_cast<unsigned char>(ch)) || ch == '.') return read_number();
    if (std::isalpha(static_cast<unsigned char>(ch)) || ch == '_') return read_name();
    ++pos_;
    switch (ch) {
      case '+': return {Token::plus};
      case '-': return {Token::minus};
      case '*': return {Token::times};
      case '=': return {Token::equals};
      default: throw fail(std::string("unexpected character '") + ch + "'");
    }
  }

  InputError fail(const std::string &what) const {
    return InputError("restriction \"" + text_ + "\": " + what);
  }

 private:
  Token read_number() {
    double value = 0;
    const char *begin = text_.data() + pos_, *end = text_.data() + text_.size();
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || !std::isfinite(value)) throw fail("bad number");
    pos_ += static_cast<std::size_t>(ptr - begin);
    return {Token::number, value};
  }
  Token read_name() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) ||
                                   text_[pos_] == '_' || text_[pos_] == '.'))
      ++pos_;
    return {Token::name, 0, text_.substr(start, pos_ - start)};
  }

  const std::string &text_;
  std::size_t pos_ = 0;
};

// Accumulates sign * (sum of terms) of one side into coefficients and a
// constant, stopping at '=' or the end.
class SideParser {
 public:
  SideParser(Lexer &lexer, const std::vector<std::string> &regressors, bool intercept,
             std::vector<double> &coefficients, double &constant)
      : lexer_(lexer), regressors_(regressors), intercept_(intercept),
        coefficients_(coefficients), constant_(constant) {}

  Token parse(double side_sign) {
    Token token = lexer_.next();
    bool first = true;
    while (true) {
      double sign = side_sign;
      if (token.kind == Token::plus || token.kind == Token::minus) {
        if (token.kind == Token::minus) sign = -sign;
        token = lexer_.next();
      } else if (!first) {
        return token;
      }
      token = term(sign, token);
      first = false;
    }
  }

 private:
  Token term(double sign, Token token) {
    if (token.kind == Token::number) {
      const double factor = token.value;
      token = lexer_.next();
      if (token.kind == Token::times) token = lexer_.next();
      if (token.kind != Token::name) {
        constant_ += sign * factor;
        return token;
      }
      add(token.text, sign * factor);
      return lexer_.next();
    }
    if (token.kind != Token::name) throw lexer_.fail("expected a number or a name");
    const std::string name = token.text;
    token = lexer_.next();
    double factor = 1;
    if (token.kind == Token::times) {
      token = lexer_.next();
      if (token.kind != Token::number) throw lexer_.fail("expected a number after '*'");
      factor = token.value;
      token = lexer_.next();
    }
    add(name, sign * factor);
    return token;
  }

  void add(const std::string &name, double coefficient) {
    const std::size_t c = intercept_ ? 1 : 0;
    if (name == "const") {
      if (!intercept_) throw lexer_.fail("const names the intercept, and the model has none");
      coefficients_[0] += coefficient;
      return;
    }
    for (std::size_t v = 0; v < regressors_.size(); ++v)
      if (regressors_[v] == name) {
        coefficients_[c + v] += coefficient;
        return;
      }
    throw lexer_.fail("unknown variable \"" + name + "\"");
  }

  Lexer &lexer_;
  const std::vector<std::string> &regressors_;
  bool intercept_;
  std::vector<double> &coefficients_;
  double &constant_;
};

}  // namespace

Restriction parse_restriction(const std::string &text, const std::vector<std::string> &regressors,
                              bool intercept) {
  Restriction r;
  r.coefficients.assign(regressors.size() + (intercept ? 1 : 0), 0.0);
  double constant = 0;  // constants of both sides, moved to the left
  Lexer lexer(text);
  SideParser side(lexer, regressors, intercept, r.coefficients, constant);
  if (side.parse(1.0).kind != Token::equals) throw lexer.fail("expected one '=' between two sides");
  if (side.parse(-1.0).kind != Token::end) throw lexer.fail("unexpected text after the right side");
  bool involves = false;
  for (double a : r.coefficients) involves = involves || a != 0.0;
  if (!involves) throw lexer.fail("involves no coefficient");
  r.rhs = 0.0 - constant;  // +0 rather than -0 when both sides hold no constant
  return r;
}

}  // namespace qvd::analysis
