// Hostile argument lists for every gateway; see generator.h.
#include "generator.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "casetools.h"

namespace fuzz {

namespace {

using mexhost::ArrayPtr;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kTwo31 = 2147483648.0;
constexpr double kTwo53 = 9007199254740992.0;
constexpr size_t kCheapLength = size_t(1) << 20;  // a long row that costs little

// Values that hurt: non-finite, signed zero, fractions, the edges of the
// 32-bit and 53-bit ranges, the largest uint16, the largest double.
const double kHurting[] = {kNaN,    kInf,       -kInf,       -0.0,   0.0,   0.5,
                           -1.0,    1.0,        2.9,         -0.5,   3.0,   kTwo31,
                           -kTwo31, kTwo31 - 1, -kTwo31 - 1, kTwo53, 1e308, -1e308,
                           65535.0, 65536.0,    4.9e-324,    1e-300, 255.0, 256.0};

double hurting(Entropy &e) {
  return kHurting[e.below(sizeof kHurting / sizeof kHurting[0])];
}

// Sizes that hurt. Large ones are far too large (so any host refuses them at
// once) rather than merely large: a call must never build gigabytes.
const double kHurtingSizes[] = {kNaN, kInf, -kInf, -1.0,   -0.5,        -0.0,
                                0.0,  2.9,  1e15,  kTwo31, -kTwo31 - 1, 1e308};

double hurtingSize(Entropy &e) {
  return kHurtingSizes[e.below(sizeof kHurtingSizes / sizeof kHurtingSizes[0])];
}

// A size for a constructor: mostly small, sometimes one that hurts.
double sizeValue(Entropy &e) {
  return e.chance(75) ? static_cast<double>(static_cast<int>(e.below(11)) - 2) : hurtingSize(e);
}

// Mostly small integers, sometimes a value that hurts, sometimes a fraction.
double value(Entropy &e, int low, int high) {
  unsigned roll = static_cast<unsigned>(e.below(100));
  if (roll < 20) return hurting(e);
  if (roll < 30) return low + e.unit() * (high - low);
  return static_cast<double>(low +
                             static_cast<int>(e.below(static_cast<uint64_t>(high - low + 1))));
}

mxArray *doubles(size_t m, size_t n) {
  return mxCreateDoubleMatrix_730(m, n, mxREAL);
}

size_t smallSize(Entropy &e, size_t limit) {
  return e.below(limit + 1);
}

const mxClassID kClasses[] = {mxDOUBLE_CLASS, mxSINGLE_CLASS, mxLOGICAL_CLASS, mxCHAR_CLASS,
                              mxINT8_CLASS,   mxUINT8_CLASS,  mxINT16_CLASS,   mxUINT16_CLASS,
                              mxINT32_CLASS,  mxUINT32_CLASS, mxINT64_CLASS,   mxUINT64_CLASS};

// Stores v, converted the way MATLAB's class conversion would, at element k
// (NaN counts as false for logical arrays).
void store(void *data, mxClassID cls, size_t k, double v) {
  if (cls == mxLOGICAL_CLASS && std::isnan(v)) v = 0.0;
  mexhost::storeElement(data, k, cls, mexhost::convertElement(v, cls));
}

std::vector<size_t> randomShape(Entropy &e) {
  switch (e.below(10)) {
    case 0: return {0, 0};
    case 1: return {0, smallSize(e, 5)};
    case 2: return {smallSize(e, 5), 0};
    case 3: return {1, 1 + smallSize(e, 8)};
    case 4: return {1 + smallSize(e, 8), 1};
    case 5: return {1 + smallSize(e, 3), 1 + smallSize(e, 3), 1 + smallSize(e, 3)};
    case 6: return {1, e.chance(30) ? kCheapLength : 1 + smallSize(e, 64)};
    default: return {1 + smallSize(e, 8), 1 + smallSize(e, 8)};
  }
}

// An array of any class and shape the host models.
mxArray *randomArray(Entropy &e) {
  if (e.chance(15)) {
    size_t m = smallSize(e, 8), n = smallSize(e, 8);
    bool logical = e.chance(30);
    size_t nnz = (m * n == 0) ? 0 : e.below(m * n + 1);
    mxArray *a = logical ? mxCreateSparseLogicalMatrix_730(m, n, nnz)
                         : mxCreateSparse_730(m, n, nnz, e.chance(20) ? mxCOMPLEX : mxREAL);
    size_t *ir = mxGetIr_730(a), *jc = mxGetJc_730(a);
    size_t stored = 0;
    for (size_t c = 0; c < n; ++c) {
      jc[c] = stored;
      for (size_t r = 0; r < m && stored < nnz; ++r) {
        if (e.chance(50)) {
          ir[stored] = r;
          store(mxGetData(a), logical ? mxLOGICAL_CLASS : mxDOUBLE_CLASS, stored,
                logical ? 1.0 : value(e, -3, 20));
          if (mxIsComplex(a)) store(mxGetImagData(a), mxDOUBLE_CLASS, stored, value(e, -3, 3));
          ++stored;
        }
      }
    }
    jc[n] = stored;
    return a;
  }
  mxClassID cls =
      e.chance(40) ? mxDOUBLE_CLASS : kClasses[e.below(sizeof kClasses / sizeof kClasses[0])];
  bool complex = cls != mxLOGICAL_CLASS && cls != mxCHAR_CLASS && e.chance(15);
  std::vector<size_t> dims = randomShape(e);
  mxArray *a =
      mxCreateNumericArray_730(dims.size(), dims.data(), cls, complex ? mxCOMPLEX : mxREAL);
  size_t count = mxGetNumberOfElements(a);
  bool uniform = count > 4096;  // long rows: one value, cheap to make and to print
  double fillValue = value(e, -3, 300);
  for (size_t k = 0; k < count; ++k) {
    store(mxGetData(a), cls, k, uniform ? fillValue : value(e, -3, 300));
    if (complex) store(mxGetImagData(a), cls, k, uniform ? 0.0 : value(e, -3, 3));
  }
  return a;
}

// A real double matrix with entries from value().
mxArray *denseMatrix(Entropy &e, size_t m, size_t n, int low, int high) {
  mxArray *a = doubles(m, n);
  double *p = mxGetPr(a);
  for (size_t k = 0; k < m * n; ++k) p[k] = value(e, low, high);
  return a;
}

// A position list for a rows-by-cols 0/1 matrix: valid, or broken in a way
// that hurts (bad entries, bad declared sizes, wrong row count, empty).
mxArray *positionList(Entropy &e, double rows, double cols) {
  unsigned roll = static_cast<unsigned>(e.below(100));
  if (roll < 12) return doubles(e.chance(50) ? 2 : 0, 0);  // the identity
  if (roll < 16) return doubles(e.chance(50) ? 3 : 1, 1 + smallSize(e, 4));
  if (roll < 24) rows = hurtingSize(e);
  if (roll >= 20 && roll < 28) cols = hurtingSize(e);
  size_t k = smallSize(e, e.chance(10) ? 200 : 12);
  mxArray *list = doubles(2, k + 1);
  double *p = mxGetPr(list);
  bool brokenEntries = e.chance(15);
  for (size_t j = 0; j < k; ++j) {
    double r = 1 + std::floor(e.unit() * std::fmax(1.0, std::fmin(rows, 64.0)));
    double c = 1 + std::floor(e.unit() * std::fmax(1.0, std::fmin(cols, 64.0)));
    if (e.chance(10)) r += 0.7;
    if (brokenEntries && e.chance(30)) (e.chance(50) ? r : c) = hurting(e);
    p[2 * j] = r;
    p[2 * j + 1] = c;
  }
  p[2 * k] = rows;
  p[2 * k + 1] = cols;
  return list;
}

// A selector of the given length choosing among `limit` rows or columns.
mxArray *selector(Entropy &e, size_t length, double limit, bool column) {
  mxArray *s = column ? doubles(length, 1) : doubles(1, length);
  if (e.chance(5)) {
    mxDestroyArray(s);
    s = doubles(length, 2);  // a matrix where a vector belongs
  }
  double *p = mxGetPr(s);
  for (size_t k = 0; k < mxGetNumberOfElements(s); ++k) {
    p[k] =
        e.chance(85) ? std::floor(e.unit() * (limit + 2)) - (e.chance(10) ? 0.5 : 0.0) : hurting(e);
  }
  return s;
}

size_t dimension(Entropy &e, size_t limit) {
  return e.chance(8) ? 0 : 1 + smallSize(e, limit - 1);
}

void pairsolveArgs(Entropy &e, std::vector<mxArray *> &slots) {
  size_t m = e.chance(5) ? 0 : dimension(e, e.chance(10) ? 40 : 10);
  size_t n = e.chance(5) ? 0 : dimension(e, e.chance(10) ? 40 : 10);
  if (e.chance(3)) {
    m = 1;
    n = kCheapLength;
  }
  mxArray *c = doubles(m, n);
  double *p = mxGetPr(c);
  unsigned style = static_cast<unsigned>(e.below(4));
  for (size_t k = 0; k < m * n; ++k) {
    if (n == kCheapLength) {
      p[k] = static_cast<double>(k % 7);
    } else if (style == 0) {
      p[k] = e.chance(10) ? hurting(e) : static_cast<double>(e.below(4));
    } else if (style == 1) {
      p[k] = e.chance(20) ? (e.chance(50) ? kNaN : kInf) : e.unit() * 100.0;
    } else if (style == 2) {
      p[k] = e.chance(5) ? -1.0 : std::ldexp(e.unit(), static_cast<int>(e.below(2000)) - 1000);
    } else {
      p[k] = e.chance(30) ? 1e308 : (e.chance(10) ? kInf : static_cast<double>(e.below(10)));
    }
  }
  slots.push_back(c);
}

void flankprodArgs(Entropy &e, std::vector<mxArray *> &slots) {
  size_t m = dimension(e, 12), n = dimension(e, 12);
  double mL = static_cast<double>(dimension(e, 12)), nR = static_cast<double>(dimension(e, 12));
  double lCols = e.chance(90) ? static_cast<double>(m) : static_cast<double>(m) + 1;
  double rRows = e.chance(90) ? static_cast<double>(n) : static_cast<double>(n) - 1;
  if (e.chance(3)) mL = nR = kTwo31 - 1;  // an output too large for 32-bit offsets
  slots.push_back(positionList(e, mL, lCols));
  slots.push_back(e.chance(3) ? doubles(1, kCheapLength) : denseMatrix(e, m, n, -5, 5));
  slots.push_back(positionList(e, rRows, nR));
}

void gatherArgs(Entropy &e, std::vector<mxArray *> &slots, bool weights) {
  size_t rowsX = dimension(e, 12), colsX = dimension(e, 12);
  size_t m = dimension(e, 10), n = dimension(e, 10);
  bool identity = e.chance(15);
  if (identity) m = n = colsX;
  slots.push_back(selector(e, m, static_cast<double>(rowsX), true));
  slots.push_back(denseMatrix(e, rowsX, colsX, -5, 5));
  slots.push_back(selector(e, n, static_cast<double>(colsX), false));
  slots.push_back(identity ? doubles(2, 0)
                           : positionList(e, static_cast<double>(m), static_cast<double>(n)));
  if (weights) {
    size_t count = e.chance(85) ? m * n : smallSize(e, m * n);
    slots.push_back(e.chance(90)
                        ? denseMatrix(e, count == m * n ? m : 1, count == m * n ? n : count, -3, 3)
                        : randomArray(e));
  }
}

void mirrorprodArgs(Entropy &e, std::vector<mxArray *> &slots) {
  size_t n = e.chance(5) ? 0 : 1 + smallSize(e, e.chance(10) ? 200 : 12);
  size_t cols = e.chance(90) ? n : n + 1;
  unsigned pattern = static_cast<unsigned>(e.below(4));  // lower, both triangles, upper, any
  std::vector<size_t> ir, jc{0};
  std::vector<double> values;
  for (size_t c = 0; c < cols; ++c) {
    for (size_t r = 0; r < n; ++r) {
      bool allowed = pattern == 0 ? r >= c : pattern == 2 ? r <= c : true;
      if (allowed && e.chance(r == c ? 70 : 25)) {
        ir.push_back(r);
        values.push_back(value(e, -4, 4));
      }
    }
    jc.push_back(ir.size());
  }
  mxArray *a = mxCreateSparse_730(n, cols, ir.size(), e.chance(10) ? mxCOMPLEX : mxREAL);
  std::copy(ir.begin(), ir.end(), mxGetIr_730(a));
  std::copy(jc.begin(), jc.end(), mxGetJc_730(a));
  std::copy(values.begin(), values.end(), mxGetPr(a));
  size_t length = e.chance(90) ? n : smallSize(e, n);
  mxArray *x = e.chance(10) ? randomArray(e) : denseMatrix(e, length, e.chance(90) ? 1 : 2, -9, 9);
  slots.push_back(x);
  if (e.chance(90)) {
    slots.push_back(a);
  } else {
    mxDestroyArray(a);
    slots.push_back(randomArray(e));
  }
}

void lutpaintArgs(Entropy &e, std::vector<mxArray *> &slots) {
  const mxClassID imageClasses[] = {mxUINT8_CLASS, mxUINT16_CLASS, mxDOUBLE_CLASS};
  mxClassID cls = imageClasses[e.below(3)];
  size_t m = smallSize(e, 12), n = smallSize(e, 12);
  if (e.chance(3)) {
    m = 1;
    n = kCheapLength;
  }
  mxArray *image = mxCreateNumericMatrix_730(m, n, cls, e.chance(5) ? mxCOMPLEX : mxREAL);
  for (size_t k = 0; k < m * n; ++k)
    store(mxGetData(image), cls, k, n == kCheapLength ? 300.0 : value(e, -2, 300));
  size_t p = e.chance(5) ? 0 : 1 + smallSize(e, 6);
  mxArray *map = doubles(p, e.chance(90) ? 3 : 4);
  double *q = mxGetPr(map);
  for (size_t k = 0; k < mxGetNumberOfElements(map); ++k)
    q[k] = e.chance(20) ? hurting(e) : e.unit() * 1.2 - 0.1;
  slots.push_back(image);
  slots.push_back(map);
}

// Constructor arguments: small sizes, sizes that hurt, size vectors, class
// names real and made up. Huge sizes meet the host's array byte limit.
void forwardArgs(Entropy &e, std::vector<mxArray *> &slots) {
  size_t count = e.below(4);
  for (size_t i = 0; i < count; ++i) {
    unsigned roll = static_cast<unsigned>(e.below(10));
    if (roll < 7) {
      slots.push_back(mxCreateDoubleScalar(sizeValue(e)));
    } else if (roll < 8) {
      mxArray *sizes = doubles(1, 1 + smallSize(e, 3));
      for (size_t k = 0; k < mxGetN(sizes); ++k) mxGetPr(sizes)[k] = sizeValue(e);
      slots.push_back(sizes);
    } else {
      const char *names[] = {"double", "single", "uint8", "int16", "uint64", "logical", "quad", ""};
      slots.push_back(mxCreateString(names[e.below(8)]));
    }
  }
}

}  // namespace

uint64_t ByteEntropy::next() {
  uint64_t v = 0;
  for (int i = 0; i < 8 && pos_ < size_; ++i) v |= static_cast<uint64_t>(data_[pos_++]) << (8 * i);
  return v;
}

const std::vector<std::string> &pluginNames() {
  static const std::vector<std::string> names = {"pairsolve",  "flankprod",  "flankmask",
                                                 "flankscale", "flankinner", "mirrorprod",
                                                 "lutpaint",   "nullfill",   "unitfill"};
  return names;
}

GeneratedCall generateCall(Entropy &e, const std::string &plugin) {
  GeneratedCall call;
  call.plugin = plugin;
  std::vector<mxArray *> slots;
  if (plugin == "pairsolve")
    pairsolveArgs(e, slots);
  else if (plugin == "flankprod")
    flankprodArgs(e, slots);
  else if (plugin == "flankmask")
    gatherArgs(e, slots, false);
  else if (plugin == "flankscale" || plugin == "flankinner")
    gatherArgs(e, slots, true);
  else if (plugin == "mirrorprod")
    mirrorprodArgs(e, slots);
  else if (plugin == "lutpaint")
    lutpaintArgs(e, slots);
  else
    forwardArgs(e, slots);
  // Now and then any slot may hold anything, and the count may be off. The
  // constructors take their sizes from any numeric array, so the forwarding
  // plug-ins get their own arguments only.
  bool forward = plugin == "nullfill" || plugin == "unitfill";
  for (mxArray *&slot : slots) {
    if (!forward && e.chance(8)) {
      mxDestroyArray(slot);
      slot = randomArray(e);
    }
  }
  if (!forward && e.chance(15)) {
    size_t count = e.below(7);
    while (slots.size() > count) {
      mxDestroyArray(slots.back());
      slots.pop_back();
    }
    while (slots.size() < count) slots.push_back(randomArray(e));
  }
  for (mxArray *slot : slots) call.args.emplace_back(slot);
  unsigned roll = static_cast<unsigned>(e.below(100));
  call.nargout = roll < 10 ? 0 : roll < 70 ? 1 : roll < 90 ? 2 : static_cast<int>(3 + e.below(2));
  return call;
}

std::string callText(const GeneratedCall &call, size_t maxLiteral) {
  std::string text = "@nargout=" + std::to_string(call.nargout) + " " + call.plugin + "(";
  for (size_t i = 0; i < call.args.size(); ++i) {
    std::string literal = mexhost::toLiteral(call.args[i].get());
    if (literal.size() > maxLiteral) return "";
    text += (i > 0 ? ", " : "") + literal;
  }
  return text + ")";
}

}  // namespace fuzz
