// MATLAB literal parser: the subset of MATLAB expressions that case files and
// mexcall arguments use. Every accepted text is valid MATLAB with the same
// meaning, so Octave and MATLAB can evaluate the same text directly.
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>

#include "casetools.h"

namespace mexhost {

namespace {

// A value under construction: class, shape, flags, and the elements as
// doubles in column-major order (every class the literals need fits).
struct Value {
  mxClassID cls = mxDOUBLE_CLASS;
  std::vector<size_t> dims{1, 1};
  bool isComplex = false;
  bool isSparse = false;
  std::vector<double> re;
  std::vector<double> im;

  size_t numel() const {
    size_t n = 1;
    for (size_t d : dims) n *= d;
    return n;
  }
  bool isScalar() const { return numel() == 1; }
  bool isEmpty00() const { return dims.size() == 2 && dims[0] == 0 && dims[1] == 0; }
};

constexpr size_t kMaxLiteralElements = size_t(1) << 28;

Value scalar(double v) {
  Value value;
  value.re = {v};
  return value;
}

Value filled(std::vector<size_t> dims, double v) {
  while (dims.size() > 2 && dims.back() == 1) dims.pop_back();
  Value value;
  value.dims = dims;
  size_t n = 1;
  for (size_t d : dims) {
    if (d != 0 && n > kMaxLiteralElements / d) throw ParseError("literal too large");
    n *= d;
  }
  value.re.assign(n, v);
  return value;
}

bool isIntegerClass(mxClassID cls) {
  return cls >= mxINT8_CLASS && cls <= mxUINT64_CLASS;
}

double integerLimit(mxClassID cls, bool upper) {
  switch (cls) {
    case mxINT8_CLASS: return upper ? 127.0 : -128.0;
    case mxUINT8_CLASS: return upper ? 255.0 : 0.0;
    case mxINT16_CLASS: return upper ? 32767.0 : -32768.0;
    case mxUINT16_CLASS: return upper ? 65535.0 : 0.0;
    case mxINT32_CLASS: return upper ? 2147483647.0 : -2147483648.0;
    case mxUINT32_CLASS: return upper ? 4294967295.0 : 0.0;
    case mxINT64_CLASS: return upper ? 9223372036854775807.0 : -9223372036854775808.0;
    case mxUINT64_CLASS: return upper ? 18446744073709551615.0 : 0.0;
    default: return 0.0;
  }
}

}  // namespace

double convertElement(double v, mxClassID cls) {
  if (isIntegerClass(cls)) {
    if (std::isnan(v)) return 0.0;
    double r = std::round(v);  // halves away from zero
    return std::fmin(std::fmax(r, integerLimit(cls, false)), integerLimit(cls, true));
  }
  switch (cls) {
    case mxSINGLE_CLASS: return static_cast<float>(v);
    case mxLOGICAL_CLASS:
      if (std::isnan(v)) throw ParseError("NaN's cannot be converted to logicals");
      return v != 0.0 ? 1.0 : 0.0;
    case mxCHAR_CLASS:
      if (std::isnan(v)) return 0.0;
      return std::fmin(std::fmax(std::trunc(v), 0.0), 65535.0);
    default: return v;
  }
}

namespace {

Value convert(Value value, mxClassID cls) {
  if (cls == mxLOGICAL_CLASS && value.isComplex)
    throw ParseError("complex values cannot be logical");
  for (double &v : value.re) v = convertElement(v, cls);
  for (double &v : value.im) v = convertElement(v, cls);
  value.cls = cls;
  if (value.isSparse && cls != mxDOUBLE_CLASS && cls != mxLOGICAL_CLASS) {
    throw ParseError("sparse arrays are double or logical");
  }
  return value;
}

void makeComplex(Value &value) {
  if (!value.isComplex) {
    value.isComplex = true;
    value.im.assign(value.re.size(), 0.0);
  }
}

// The class of a concatenation: integer beats char beats single beats
// double; all-logical stays logical.
mxClassID concatClass(const std::vector<Value> &parts) {
  for (const Value &p : parts)
    if (isIntegerClass(p.cls)) return p.cls;
  for (const Value &p : parts)
    if (p.cls == mxCHAR_CLASS) return mxCHAR_CLASS;
  for (const Value &p : parts)
    if (p.cls == mxSINGLE_CLASS) return mxSINGLE_CLASS;
  bool allLogical = !parts.empty();
  for (const Value &p : parts) allLogical = allLogical && p.cls == mxLOGICAL_CLASS;
  return allLogical ? mxLOGICAL_CLASS : mxDOUBLE_CLASS;
}

Value concatenate(std::vector<Value> parts, bool horizontal) {
  std::vector<Value> kept;
  for (Value &p : parts) {
    if (p.dims.size() > 2) throw ParseError("concatenation of N-d arrays is not supported");
    if (!p.isEmpty00()) kept.push_back(std::move(p));
  }
  if (kept.empty()) {
    Value empty = filled({0, 0}, 0.0);
    if (!parts.empty()) empty.cls = concatClass(parts);
    return empty;
  }
  if (kept.size() == 1) return kept[0];
  mxClassID cls = concatClass(kept);
  bool anyComplex = false, anySparse = false;
  for (Value &p : kept) {
    anyComplex = anyComplex || p.isComplex;
    anySparse = anySparse || p.isSparse;
  }
  for (Value &p : kept) {
    if (p.cls != cls) p = convert(std::move(p), cls);
    if (anyComplex) makeComplex(p);
  }
  size_t fixed = horizontal ? kept[0].dims[0] : kept[0].dims[1];
  size_t total = 0;
  for (const Value &p : kept) {
    size_t f = horizontal ? p.dims[0] : p.dims[1];
    if (f != fixed) throw ParseError("dimensions of arrays being concatenated are not consistent");
    total += horizontal ? p.dims[1] : p.dims[0];
  }
  Value out;
  out.cls = cls;
  out.isComplex = anyComplex;
  out.isSparse = anySparse && (cls == mxDOUBLE_CLASS || cls == mxLOGICAL_CLASS);
  out.dims = horizontal ? std::vector<size_t>{fixed, total} : std::vector<size_t>{total, fixed};
  size_t rows = out.dims[0];
  out.re.assign(out.numel(), 0.0);
  if (anyComplex) out.im.assign(out.numel(), 0.0);
  size_t offset = 0;  // columns (horizontal) or rows (vertical) placed so far
  for (const Value &p : kept) {
    for (size_t c = 0; c < p.dims[1]; ++c) {
      for (size_t r = 0; r < p.dims[0]; ++r) {
        size_t src = r + c * p.dims[0];
        size_t dst = horizontal ? r + (c + offset) * rows : (r + offset) + c * rows;
        out.re[dst] = p.re[src];
        if (anyComplex) out.im[dst] = p.im[src];
      }
    }
    offset += horizontal ? p.dims[1] : p.dims[0];
  }
  return out;
}

double toScalar(const Value &value, const char *what) {
  if (!value.isScalar() || value.isComplex) {
    throw ParseError(std::string(what) + " must be a real scalar");
  }
  return value.re[0];
}

size_t toSize(double v) {
  if (!std::isfinite(v) || v != std::floor(v)) throw ParseError("sizes must be finite integers");
  if (v > static_cast<double>(kMaxLiteralElements)) throw ParseError("literal too large");
  return v < 0 ? 0 : static_cast<size_t>(v);
}

std::string charText(const Value &value) {
  if (value.cls != mxCHAR_CLASS) throw ParseError("expected a character string");
  std::string text;
  for (double v : value.re) text.push_back(static_cast<char>(v));
  return text;
}

// Sizes given as scalars or one vector, with an optional trailing class name.
std::vector<size_t> sizeArguments(std::vector<Value> &args, mxClassID *cls) {
  if (!args.empty() && args.back().cls == mxCHAR_CLASS) {
    if (cls == nullptr || !classFromName(charText(args.back()), cls)) {
      throw ParseError("unknown class name");
    }
    args.pop_back();
  }
  std::vector<size_t> dims;
  if (args.empty()) return {1, 1};
  if (args.size() == 1) {
    for (double v : args[0].re) dims.push_back(toSize(v));
    if (dims.size() == 1) dims.push_back(dims[0]);
    if (dims.empty()) dims = {0, 0};
    return dims;
  }
  for (const Value &a : args) dims.push_back(toSize(toScalar(a, "a size")));
  return dims;
}

// The sizes after a first argument, for reshape(A, sizes...) and
// repmat(A, counts...): sizeArguments of the rest, without a class name.
std::vector<size_t> sizesAfterFirst(std::vector<Value> args) {
  args.erase(args.begin());
  return sizeArguments(args, nullptr);
}

class Parser {
 public:
  explicit Parser(const std::string &text) : s_(text) {}

  Value parseAll() {
    Value v = parseExpression();
    skipSpace();
    if (pos_ != s_.size()) fail("unexpected text");
    return v;
  }

 private:
  const std::string &s_;
  size_t pos_ = 0;
  int brackets_ = 0;  // inside [...] whitespace separates elements

  [[noreturn]] void fail(const std::string &what) const {
    throw ParseError(what + " at column " + std::to_string(pos_ + 1) + " of: " + s_);
  }
  char peek(size_t ahead = 0) const { return pos_ + ahead < s_.size() ? s_[pos_ + ahead] : '\0'; }
  bool skipSpace() {
    size_t start = pos_;
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
    return pos_ != start;
  }
  void expect(char c) {
    skipSpace();
    if (peek() != c) fail(std::string("expected '") + c + "'");
    ++pos_;
  }

  Value parseExpression() {
    skipSpace();
    Value first = parseAdditive();
    size_t save = pos_;
    skipSpace();
    if (peek() != ':') {
      pos_ = save;
      return first;
    }
    ++pos_;
    Value second = parseAdditive();
    Value step = scalar(1.0), last = second;
    save = pos_;
    skipSpace();
    if (peek() == ':') {
      ++pos_;
      step = second;
      last = parseAdditive();
    } else {
      pos_ = save;
    }
    double a = toScalar(first, "a range start"), s = toScalar(step, "a range step"),
           b = toScalar(last, "a range end");
    Value range = filled({1, 0}, 0.0);
    if (s == 0 || std::isnan(a) || std::isnan(s) || std::isnan(b) || (s > 0 && a > b) ||
        (s < 0 && a < b)) {
      return range;
    }
    double count = std::floor((b - a) / s + 1e-10) + 1;
    if (!(count <= static_cast<double>(kMaxLiteralElements))) fail("range too long");
    for (size_t k = 0; k < static_cast<size_t>(count); ++k) range.re.push_back(a + k * s);
    range.dims = {1, range.re.size()};
    return range;
  }

  // In brackets, "a -b" starts a new element while "a - b" and "a-b" subtract.
  bool binaryOperatorFollows(char op) {
    size_t save = pos_;
    bool space = skipSpace();
    if (peek() != op) {
      pos_ = save;
      return false;
    }
    char after = peek(1);
    if (brackets_ > 0 && space && after != ' ' && after != '\t') {
      pos_ = save;
      return false;
    }
    return true;
  }

  Value parseAdditive() {
    Value left = parseMultiplicative();
    for (;;) {
      if (binaryOperatorFollows('+')) {
        ++pos_;
        left = elementwise(left, parseMultiplicative(), '+');
      } else if (binaryOperatorFollows('-')) {
        ++pos_;
        left = elementwise(left, parseMultiplicative(), '-');
      } else {
        return left;
      }
    }
  }

  Value parseMultiplicative() {
    Value left = parseUnary();
    for (;;) {
      size_t save = pos_;
      skipSpace();
      char op = peek();
      if (op == '.' && (peek(1) == '*' || peek(1) == '/')) {
        char elementOp = peek(1);
        pos_ += 2;
        left = elementwise(left, parseUnary(), elementOp);
      } else if (op == '*' || op == '/') {
        ++pos_;
        Value right = parseUnary();
        if (!left.isScalar() && !right.isScalar()) fail("matrix products are not supported");
        left = elementwise(left, right, op);
      } else {
        pos_ = save;
        return left;
      }
    }
  }

  Value parseUnary() {
    skipSpace();
    if (peek() == '-' || peek() == '+') {
      char op = s_[pos_++];
      Value v = parseUnary();
      if (op == '-') {
        if (v.cls == mxLOGICAL_CLASS || v.cls == mxCHAR_CLASS) v = convert(v, mxDOUBLE_CLASS);
        for (double &x : v.re) x = -x;
        for (double &x : v.im) x = -x;
        if (isIntegerClass(v.cls)) v = convert(v, v.cls);
      }
      return v;
    }
    return parsePower();
  }

  Value parsePower() {
    Value base = parsePostfix();
    for (;;) {
      size_t save = pos_;
      skipSpace();
      if (peek() == '^' || (peek() == '.' && peek(1) == '^')) {
        pos_ += peek() == '^' ? 1 : 2;
        skipSpace();
        Value exponent;
        if (peek() == '-' || peek() == '+') {
          exponent = parseUnary();
        } else {
          exponent = parsePostfix();
        }
        base = elementwise(base, exponent, '^');
      } else {
        pos_ = save;
        return base;
      }
    }
  }

  Value parsePostfix() {
    Value v = parsePrimary();
    for (;;) {
      if (peek() == '\'' || (peek() == '.' && peek(1) == '\'')) {
        pos_ += peek() == '\'' ? 1 : 2;
        v = transpose(v);
      } else {
        return v;
      }
    }
  }

  Value parsePrimary() {
    skipSpace();
    char c = peek();
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        (c == '.' && std::isdigit(static_cast<unsigned char>(peek(1))))) {
      return parseNumber();
    }
    if (c == '\'') return parseString();
    if (c == '"') fail("string objects (double quotes) are not supported; use single quotes");
    if (c == '[') return parseMatrix();
    if (c == '(') {
      ++pos_;
      int outer = brackets_;
      brackets_ = 0;
      Value v = parseExpression();
      expect(')');
      brackets_ = outer;
      return v;
    }
    if (std::isalpha(static_cast<unsigned char>(c))) return parseIdentifier();
    fail("expected a value");
  }

  Value parseNumber() {
    const char *start = s_.c_str() + pos_;
    char *end = nullptr;
    double v = std::strtod(start, &end);
    if (end == start) fail("bad number");
    // strtod would also read hexadecimal and "inf"; numbers here are decimal.
    for (const char *p = start; p < end; ++p) {
      if (std::strchr("0123456789.eE+-", *p) == nullptr) fail("bad number");
    }
    pos_ += static_cast<size_t>(end - start);
    if (std::isalpha(static_cast<unsigned char>(peek()))) fail("bad number");
    return scalar(v);
  }

  Value parseString() {
    ++pos_;
    std::string text;
    for (;;) {
      if (pos_ >= s_.size()) fail("unterminated string");
      char c = s_[pos_++];
      if (c == '\'') {
        if (peek() == '\'') {
          text.push_back('\'');
          ++pos_;
          continue;
        }
        break;
      }
      text.push_back(c);
    }
    Value v = filled({text.empty() ? 0u : 1u, text.size()}, 0.0);
    v.cls = mxCHAR_CLASS;
    for (size_t i = 0; i < text.size(); ++i) v.re[i] = static_cast<unsigned char>(text[i]);
    return v;
  }

  Value parseMatrix() {
    ++pos_;
    ++brackets_;
    std::vector<Value> rows;
    std::vector<Value> elements;
    for (;;) {
      skipSpace();
      char c = peek();
      if (c == '\0') fail("unterminated '['");
      if (c == ']') {
        ++pos_;
        break;
      }
      if (c == ';' || c == '\n') {
        ++pos_;
        rows.push_back(concatenate(std::move(elements), true));
        elements.clear();
        continue;
      }
      if (c == ',') {
        if (elements.empty()) fail("unexpected ','");
        ++pos_;
        continue;
      }
      elements.push_back(parseExpression());
      size_t save = pos_;
      bool space = skipSpace();
      char next = peek();
      if (next != ',' && next != ';' && next != ']' && next != '\n' && !space) {
        fail("expected ',' ';' or ']'");
      }
      pos_ = save;
    }
    --brackets_;
    if (!elements.empty() || rows.empty()) rows.push_back(concatenate(std::move(elements), true));
    Value v = concatenate(std::move(rows), false);
    return v;
  }

  std::vector<Value> parseArguments() {
    std::vector<Value> args;
    int outer = brackets_;
    brackets_ = 0;
    expect('(');
    skipSpace();
    if (peek() == ')') {
      ++pos_;
      brackets_ = outer;
      return args;
    }
    for (;;) {
      args.push_back(parseExpression());
      skipSpace();
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      expect(')');
      break;
    }
    brackets_ = outer;
    return args;
  }

  Value parseIdentifier() {
    size_t start = pos_;
    while (std::isalnum(static_cast<unsigned char>(peek())) || peek() == '_') ++pos_;
    std::string name = s_.substr(start, pos_ - start);
    bool call = peek() == '(' || (brackets_ == 0 && [&] {
                  size_t save = pos_;
                  skipSpace();
                  bool paren = peek() == '(';
                  pos_ = save;
                  return paren;
                }());
    std::vector<Value> args;
    if (call) args = parseArguments();
    return applyFunction(name, args);
  }

  Value applyFunction(const std::string &name, std::vector<Value> args) {
    auto argc = args.size();
    if (name == "Inf" || name == "inf" || name == "NaN" || name == "nan") {
      mxClassID cls = mxDOUBLE_CLASS;
      std::vector<size_t> dims = sizeArguments(args, &cls);
      double v = (name[0] == 'I' || name[0] == 'i') ? std::numeric_limits<double>::infinity()
                                                    : std::numeric_limits<double>::quiet_NaN();
      if (cls != mxDOUBLE_CLASS && cls != mxSINGLE_CLASS) fail(name + " takes double or single");
      return convert(filled(dims, v), cls);
    }
    if (name == "pi" && argc == 0) return scalar(3.14159265358979323846);
    if (name == "eps" && argc == 0) return scalar(std::numeric_limits<double>::epsilon());
    if (name == "realmax" && argc == 0) return scalar(std::numeric_limits<double>::max());
    if (name == "realmin" && argc == 0) return scalar(std::numeric_limits<double>::min());
    if (name == "true" || name == "false") {
      Value v = filled(sizeArguments(args, nullptr), name == "true" ? 1.0 : 0.0);
      v.cls = mxLOGICAL_CLASS;
      return v;
    }
    if (name == "zeros" || name == "ones") {
      mxClassID cls = mxDOUBLE_CLASS;
      std::vector<size_t> dims = sizeArguments(args, &cls);
      if (cls == mxLOGICAL_CLASS || cls == mxCHAR_CLASS) fail("invalid class for " + name);
      return convert(filled(dims, name == "ones" ? 1.0 : 0.0), cls);
    }
    if (name == "eye") {
      mxClassID cls = mxDOUBLE_CLASS;
      std::vector<size_t> dims = sizeArguments(args, &cls);
      if (dims.size() != 2) fail("eye takes two sizes");
      Value v = filled(dims, 0.0);
      for (size_t i = 0; i < std::min(dims[0], dims[1]); ++i) v.re[i + i * dims[0]] = 1.0;
      return convert(v, cls);
    }
    if ((name == "intmax" || name == "intmin") && argc <= 1) {
      mxClassID cls = mxINT32_CLASS;
      if (argc == 1) {
        if (!classFromName(charText(args[0]), &cls) || !isIntegerClass(cls)) {
          fail("unknown integer class");
        }
      }
      return convert(scalar(integerLimit(cls, name == "intmax")), cls);
    }
    mxClassID named = mxUNKNOWN_CLASS;
    if (classFromName(name, &named) && argc == 1) {
      if (args[0].isSparse && named != mxDOUBLE_CLASS && named != mxLOGICAL_CLASS) {
        fail("sparse arrays are double or logical");
      }
      return convert(args[0], named);
    }
    if (name == "complex" && (argc == 1 || argc == 2)) {
      Value re = args[0];
      if (re.isComplex) fail("complex takes real parts");
      if (argc == 1) {
        makeComplex(re);
        return re;
      }
      Value im = args[1];
      if (im.isComplex) fail("complex takes real parts");
      if (re.isScalar() && !im.isScalar()) re = filled(im.dims, re.re[0]);
      if (im.isScalar() && !re.isScalar()) im = filled(re.dims, im.re[0]);
      if (re.dims != im.dims) fail("complex: parts differ in size");
      re.isComplex = true;
      re.im = convert(im, re.cls).re;
      return re;
    }
    if (name == "sparse") return makeSparse(args);
    if (name == "full" && argc == 1) {
      Value v = args[0];
      v.isSparse = false;
      return v;
    }
    if (name == "reshape" && argc >= 2) {
      Value v = args[0];
      std::vector<size_t> dims = sizesAfterFirst(args);
      size_t n = 1;
      for (size_t d : dims) n *= d;
      if (n != v.numel()) fail("reshape: number of elements must not change");
      while (dims.size() > 2 && dims.back() == 1) dims.pop_back();
      if (v.isSparse && dims.size() > 2) fail("sparse arrays are two-dimensional");
      v.dims = dims;
      return v;
    }
    if (name == "repmat" && argc >= 2) {
      Value v = args[0];
      std::vector<size_t> reps = sizesAfterFirst(args);
      if (reps.size() != 2) fail("repmat takes two counts");
      std::vector<Value> row(reps[1], v);
      Value wide = reps[1] == 0 ? filled({v.dims[0], 0}, 0.0) : concatenate(row, true);
      std::vector<Value> column(reps[0], wide);
      Value out = reps[0] == 0 ? filled({0, wide.dims[1]}, 0.0) : concatenate(column, false);
      if (out.numel() == 0) out.cls = v.cls;
      return out;
    }
    if (name == "cat" && argc >= 2) {
      size_t dim = toSize(toScalar(args[0], "a dimension"));
      args.erase(args.begin());
      if (dim == 1 || dim == 2) return concatenate(args, dim == 2);
      if (dim != 3) fail("cat supports dimensions 1 to 3");
      Value out = args[0];
      for (size_t k = 1; k < args.size(); ++k) {
        const Value &p = args[k];
        if (p.dims[0] != out.dims[0] || p.dims[1] != out.dims[1] || p.cls != out.cls ||
            p.isComplex != out.isComplex || p.dims.size() > 2) {
          fail("cat: pages must match in size, class and complexity");
        }
        out.re.insert(out.re.end(), p.re.begin(), p.re.end());
        out.im.insert(out.im.end(), p.im.begin(), p.im.end());
      }
      size_t pages = out.re.size() / std::max<size_t>(1, out.dims[0] * out.dims[1]);
      out.dims = {out.dims[0], out.dims[1], args.size()};
      (void)pages;
      while (out.dims.size() > 2 && out.dims.back() == 1) out.dims.pop_back();
      return out;
    }
    fail("unknown function or constant '" + name + "'");
  }

  // sparse(A), sparse(m, n), sparse(i, j, v), sparse(i, j, v, m, n).
  Value makeSparse(std::vector<Value> &args) {
    Value out;
    if (args.size() == 1) {
      out = args[0];
      if (out.dims.size() > 2) fail("sparse arrays are two-dimensional");
      if (out.cls != mxLOGICAL_CLASS) out = convert(out, mxDOUBLE_CLASS);
    } else if (args.size() == 2) {
      out = filled({toSize(toScalar(args[0], "a size")), toSize(toScalar(args[1], "a size"))}, 0.0);
    } else if (args.size() == 3 || args.size() == 5) {
      const Value &i = args[0], &j = args[1], &v = args[2];
      size_t n = std::max(i.numel(), std::max(j.numel(), v.numel()));
      auto at = [&](const Value &x, size_t k) { return x.isScalar() ? x.re[0] : x.re.at(k); };
      size_t m = 0, cols = 0;
      for (size_t k = 0; k < n; ++k) {
        m = std::max(m, toSize(at(i, k)));
        cols = std::max(cols, toSize(at(j, k)));
      }
      if (args.size() == 5) {
        size_t mm = toSize(toScalar(args[3], "a size")), nn = toSize(toScalar(args[4], "a size"));
        if (mm < m || nn < cols) fail("sparse: index exceeds the given size");
        m = mm;
        cols = nn;
      }
      out = filled({m, cols}, 0.0);
      if (v.isComplex) makeComplex(out);
      for (size_t k = 0; k < n; ++k) {
        size_t r = toSize(at(i, k)), c = toSize(at(j, k));
        if (r == 0 || c == 0) fail("sparse: indices must be positive");
        out.re[(r - 1) + (c - 1) * m] += at(v, k);
        if (v.isComplex) out.im[(r - 1) + (c - 1) * m] += v.isScalar() ? v.im[0] : v.im.at(k);
      }
      if (v.cls == mxLOGICAL_CLASS) out = convert(out, mxLOGICAL_CLASS);
    } else {
      fail("sparse takes 1, 2, 3 or 5 arguments");
    }
    out.isSparse = true;
    return out;
  }

  static Value transpose(const Value &v) {
    if (v.dims.size() > 2) throw ParseError("transpose of an N-d array");
    Value t = v;
    t.dims = {v.dims[1], v.dims[0]};
    for (size_t r = 0; r < v.dims[0]; ++r) {
      for (size_t c = 0; c < v.dims[1]; ++c) {
        t.re[c + r * v.dims[1]] = v.re[r + c * v.dims[0]];
        if (v.isComplex) t.im[c + r * v.dims[1]] = v.im[r + c * v.dims[0]];
      }
    }
    return t;
  }

  // Arithmetic on real doubles only, elementwise with scalar expansion.
  Value elementwise(const Value &a, const Value &b, char op) {
    if (a.cls != mxDOUBLE_CLASS || b.cls != mxDOUBLE_CLASS || a.isComplex || b.isComplex ||
        a.isSparse || b.isSparse) {
      fail("arithmetic is supported on real full doubles only");
    }
    if (!a.isScalar() && !b.isScalar() && a.dims != b.dims) fail("sizes do not match");
    Value out = a.isScalar() ? b : a;
    for (size_t k = 0; k < out.re.size(); ++k) {
      double x = a.isScalar() ? a.re[0] : a.re[k];
      double y = b.isScalar() ? b.re[0] : b.re[k];
      switch (op) {
        case '+': out.re[k] = x + y; break;
        case '-': out.re[k] = x - y; break;
        case '*': out.re[k] = x * y; break;
        case '/': out.re[k] = x / y; break;
        default: out.re[k] = std::pow(x, y); break;
      }
    }
    return out;
  }
};

// Element k of an array of T, its bytes written wherever they fall.
template <typename T>
void storeAs(unsigned char *p, size_t k, T x) {
  std::memcpy(p + sizeof(T) * k, &x, sizeof(T));
}

}  // namespace

void storeElement(void *data, size_t k, mxClassID cls, double v) {
  auto *p = static_cast<unsigned char *>(data);
  switch (cls) {
    case mxDOUBLE_CLASS: storeAs(p, k, v); break;
    case mxSINGLE_CLASS: storeAs(p, k, static_cast<float>(v)); break;
    case mxLOGICAL_CLASS: p[k] = v != 0.0; break;
    case mxINT8_CLASS: storeAs(p, k, static_cast<int8_t>(v)); break;
    case mxUINT8_CLASS: storeAs(p, k, static_cast<uint8_t>(v)); break;
    case mxCHAR_CLASS:
    case mxUINT16_CLASS: storeAs(p, k, static_cast<uint16_t>(v)); break;
    case mxINT16_CLASS: storeAs(p, k, static_cast<int16_t>(v)); break;
    case mxINT32_CLASS: storeAs(p, k, static_cast<int32_t>(v)); break;
    case mxUINT32_CLASS: storeAs(p, k, static_cast<uint32_t>(v)); break;
    case mxINT64_CLASS:
      storeAs(p, k,
              v >= 9223372036854775807.0 ? std::numeric_limits<int64_t>::max()
                                         : static_cast<int64_t>(v));
      break;
    case mxUINT64_CLASS:
      storeAs(p, k,
              v >= 18446744073709551615.0 ? std::numeric_limits<uint64_t>::max()
                                          : static_cast<uint64_t>(v));
      break;
    default: break;
  }
}

namespace {

ArrayPtr toArray(const Value &v) {
  mxComplexity complexity = v.isComplex ? mxCOMPLEX : mxREAL;
  if (v.isSparse) {
    size_t m = v.dims[0], n = v.dims[1], nnz = 0;
    for (size_t k = 0; k < v.re.size(); ++k) {
      if (v.re[k] != 0.0 || (v.isComplex && v.im[k] != 0.0)) ++nnz;
    }
    ArrayPtr a(v.cls == mxLOGICAL_CLASS ? mxCreateSparseLogicalMatrix_730(m, n, nnz)
                                        : mxCreateSparse_730(m, n, nnz, complexity));
    size_t *ir = mxGetIr_730(a.get()), *jc = mxGetJc_730(a.get());
    size_t stored = 0;
    for (size_t c = 0; c < n; ++c) {
      jc[c] = stored;
      for (size_t r = 0; r < m; ++r) {
        size_t k = r + c * m;
        if (v.re[k] != 0.0 || (v.isComplex && v.im[k] != 0.0)) {
          ir[stored] = r;
          storeElement(mxGetData(a.get()), stored, v.cls, v.re[k]);
          if (v.isComplex) storeElement(mxGetImagData(a.get()), stored, v.cls, v.im[k]);
          ++stored;
        }
      }
    }
    jc[n] = stored;
    return a;
  }
  ArrayPtr a(mxCreateNumericArray_730(v.dims.size(), v.dims.data(), v.cls, complexity));
  for (size_t k = 0; k < v.re.size(); ++k) {
    storeElement(mxGetData(a.get()), k, v.cls, v.re[k]);
    if (v.isComplex) storeElement(mxGetImagData(a.get()), k, v.cls, v.im[k]);
  }
  return a;
}

}  // namespace

ArrayPtr parseLiteral(const std::string &text) {
  Parser parser(text);
  return toArray(parser.parseAll());
}

std::vector<std::string> splitTopLevel(const std::string &text, char separator) {
  std::vector<std::string> parts;
  int depth = 0;
  bool quoted = false;
  std::string current;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '\'') quoted = false;
    } else if (c == '\'') {
      // A quote after a value is a transpose, otherwise it opens a string.
      size_t j = current.find_last_not_of(" \t");
      char prev = j == std::string::npos ? '\0' : current[j];
      bool transposeQuote =
          j == current.size() - 1 && (std::isalnum(static_cast<unsigned char>(prev)) ||
                                      prev == ')' || prev == ']' || prev == '\'' || prev == '.');
      quoted = !transposeQuote;
    } else if (c == '(' || c == '[') {
      ++depth;
    } else if (c == ')' || c == ']') {
      --depth;
    } else if (c == separator && depth == 0) {
      parts.push_back(current);
      current.clear();
      continue;
    }
    current.push_back(c);
  }
  parts.push_back(current);
  return parts;
}

CallText splitCall(const std::string &text) {
  CallText call;
  size_t start = text.find_first_not_of(" \t");
  size_t open = text.find('(');
  if (start == std::string::npos) throw ParseError("empty call");
  size_t nameEnd = start;
  while (nameEnd < text.size() &&
         (std::isalnum(static_cast<unsigned char>(text[nameEnd])) || text[nameEnd] == '_')) {
    ++nameEnd;
  }
  call.name = text.substr(start, nameEnd - start);
  if (call.name.empty() || !std::isalpha(static_cast<unsigned char>(call.name[0]))) {
    throw ParseError("expected a function name in: " + text);
  }
  size_t rest = text.find_first_not_of(" \t", nameEnd);
  if (rest == std::string::npos) return call;  // NAME without parentheses
  if (rest != open) throw ParseError("expected '(' after the function name in: " + text);
  size_t close = text.find_last_of(')');
  if (close == std::string::npos || close < open ||
      text.find_first_not_of(" \t", close + 1) != std::string::npos) {
    throw ParseError("expected ')' at the end of: " + text);
  }
  std::string inside = text.substr(open + 1, close - open - 1);
  if (inside.find_first_not_of(" \t") == std::string::npos) return call;
  for (std::string &arg : splitTopLevel(inside, ',')) {
    size_t first = arg.find_first_not_of(" \t");
    size_t last = arg.find_last_not_of(" \t");
    call.args.push_back(first == std::string::npos ? "" : arg.substr(first, last - first + 1));
  }
  return call;
}

}  // namespace mexhost
