// Arrays as text (literals and MATLAB-style display) and exact comparison.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "casetools.h"
#include "valuetext.h"

namespace mexhost {

namespace {

// How numbers of class cls are written.
NumberKind kindOf(mxClassID cls) {
  return cls == mxDOUBLE_CLASS   ? NumberKind::double_
         : cls == mxSINGLE_CLASS ? NumberKind::single
                                 : NumberKind::integer;
}

std::string numberText(double v, mxClassID cls) {
  return mexhost::numberText(v, kindOf(cls));
}

// Values of the stored elements (dense: all, sparse: stored ones) as doubles.
std::vector<double> part(const mxArray *array, bool imaginary) {
  size_t count =
      mxIsSparse(array) ? mxGetJc_730(array)[mxGetN(array)] : mxGetNumberOfElements(array);
  std::vector<double> values(count);
  for (size_t k = 0; k < count; ++k) values[k] = elementAsDouble(array, k, imaginary);
  return values;
}

// Dense column-major values of a (possibly sparse) array.
std::vector<double> denseValues(const mxArray *array, bool imaginary) {
  std::vector<double> stored = part(array, imaginary);
  if (!mxIsSparse(array)) return stored;
  size_t m = mxGetM(array), n = mxGetN(array);
  std::vector<double> dense(m * n, 0.0);
  const size_t *ir = mxGetIr_730(array), *jc = mxGetJc_730(array);
  for (size_t c = 0; c < n; ++c) {
    for (size_t k = jc[c]; k < jc[c + 1]; ++k) dense[ir[k] + c * m] = stored[k];
  }
  return dense;
}

std::vector<size_t> dimsOf(const mxArray *array) {
  const size_t *d = mxGetDimensions_730(array);
  return std::vector<size_t>(d, d + mxGetNumberOfDimensions_730(array));
}

bool printableRow(const mxArray *array) {
  if (mxGetM(array) != 1 || mxGetNumberOfDimensions_730(array) != 2) return false;
  const mxChar *chars = mxGetChars(array);
  for (size_t k = 0; k < mxGetN(array); ++k) {
    if (chars[k] < 32 || chars[k] > 126) return false;
  }
  return true;
}

bool sameBits(const void *a, const void *b, size_t k, mxClassID cls, size_t size) {
  const auto *pa = static_cast<const unsigned char *>(a) + k * size;
  const auto *pb = static_cast<const unsigned char *>(b) + k * size;
  if (cls == mxDOUBLE_CLASS) {
    double x, y;
    std::memcpy(&x, pa, 8);
    std::memcpy(&y, pb, 8);
    if (std::isnan(x) && std::isnan(y)) return true;
  } else if (cls == mxSINGLE_CLASS) {
    float x, y;
    std::memcpy(&x, pa, 4);
    std::memcpy(&y, pb, 4);
    if (std::isnan(x) && std::isnan(y)) return true;
  }
  return std::memcmp(pa, pb, size) == 0;
}

std::string formatCell(double re, double im, bool isComplex, mxClassID cls) {
  std::string text = numberText(re, cls);
  if (isComplex) {
    std::string imText = numberText(std::fabs(im), cls);
    text += (std::signbit(im) ? " - " : " + ") + imText + "i";
  }
  return text;
}

}  // namespace

std::string toLiteral(const mxArray *array) {
  mxClassID cls = mxGetClassID(array);
  std::vector<size_t> dims = dimsOf(array);
  if (cls == mxCHAR_CLASS && printableRow(array)) {
    std::string text = "'";
    const mxChar *chars = mxGetChars(array);
    for (size_t k = 0; k < mxGetN(array); ++k) {
      text += static_cast<char>(chars[k]);
      if (chars[k] == '\'') text += '\'';
    }
    return text + "'";
  }
  std::string body = valuesLiteral(denseValues(array, false), dims, kindOf(cls));
  if (mxIsComplex(array)) {
    body =
        "complex(" + body + ", " + valuesLiteral(denseValues(array, true), dims, kindOf(cls)) + ")";
  }
  switch (cls) {
    case mxDOUBLE_CLASS: break;
    case mxLOGICAL_CLASS: body = "logical(" + body + ")"; break;
    default: body = std::string(mxGetClassName(array)) + "(" + body + ")"; break;
  }
  if (mxIsSparse(array)) body = "sparse(" + body + ")";
  return body;
}

std::string display(const std::string &name, const mxArray *array) {
  mxClassID cls = mxGetClassID(array);
  std::vector<size_t> dims = dimsOf(array);
  bool isComplex = mxIsComplex(array);
  std::ostringstream out;
  if (cls == mxCHAR_CLASS && printableRow(array)) {
    return name + " = " + toLiteral(array) + "\n";
  }
  std::string kind = std::string(mxIsSparse(array) ? "sparse " : "") +
                     (isComplex ? "complex " : "") + mxGetClassName(array);
  if (mxGetNumberOfElements(array) == 0) {
    return name + " = [](" + sizeText(dims, "x") + " " + kind + ")\n";
  }
  std::vector<double> re = denseValues(array, false);
  std::vector<double> im = isComplex ? denseValues(array, true) : std::vector<double>();
  if (re.size() == 1 && cls == mxDOUBLE_CLASS && !mxIsSparse(array)) {
    return name + " = " + formatCell(re[0], isComplex ? im[0] : 0.0, isComplex, cls) + "\n";
  }
  size_t rows = dims[0], cols = dims[1], pages = re.size() / (rows * cols);
  std::vector<std::string> cells(re.size());
  size_t width = 0;
  for (size_t k = 0; k < re.size(); ++k) {
    cells[k] = formatCell(re[k], isComplex ? im[k] : 0.0, isComplex, cls);
    width = std::max(width, cells[k].size());
  }
  out << name << " =\n\n  " << sizeText(dims, "x") << " " << kind << "\n";
  for (size_t p = 0; p < pages; ++p) {
    out << "\n";
    if (pages > 1) out << "  (:,:," << p + 1 << ")\n\n";
    for (size_t r = 0; r < rows; ++r) {
      for (size_t c = 0; c < cols; ++c) {
        const std::string &cell = cells[r + c * rows + p * rows * cols];
        out << std::string(width + 3 - cell.size(), ' ') << cell;
      }
      out << "\n";
    }
  }
  out << "\n";
  return out.str();
}

bool sameArray(const mxArray *expected, const mxArray *actual, std::string *why) {
  auto differ = [&](const std::string &what) {
    *why = what + "\n  expected: " + toLiteral(expected) + "\n  actual:   " + toLiteral(actual);
    return false;
  };
  mxClassID cls = mxGetClassID(expected);
  if (cls != mxGetClassID(actual)) {
    return differ(std::string("class differs: expected ") + mxGetClassName(expected) + ", got " +
                  mxGetClassName(actual));
  }
  if (dimsOf(expected) != dimsOf(actual)) {
    return differ("size differs: expected " + sizeText(dimsOf(expected), "x") + ", got " +
                  sizeText(dimsOf(actual), "x"));
  }
  if (mxIsSparse(expected) != mxIsSparse(actual)) return differ("sparsity differs");
  if (mxIsComplex(expected) != mxIsComplex(actual)) return differ("complexity differs");
  size_t count = mxGetNumberOfElements(expected);
  if (mxIsSparse(expected)) {
    size_t n = mxGetN(expected);
    const size_t *jcE = mxGetJc_730(expected), *jcA = mxGetJc_730(actual);
    if (std::memcmp(jcE, jcA, (n + 1) * sizeof(size_t)) != 0) {
      return differ("sparse pattern differs");
    }
    count = jcE[n];
    if (std::memcmp(mxGetIr_730(expected), mxGetIr_730(actual), count * sizeof(size_t)) != 0) {
      return differ("sparse pattern differs");
    }
  }
  for (size_t k = 0; k < count; ++k) {
    size_t size = mxGetElementSize(expected);
    bool same = sameBits(mxGetData(expected), mxGetData(actual), k, cls, size) &&
                (!mxIsComplex(expected) ||
                 sameBits(mxGetImagData(expected), mxGetImagData(actual), k, cls, size));
    if (!same) {
      return differ("element " + std::to_string(k + 1) + " (storage order) differs");
    }
  }
  return true;
}

}  // namespace mexhost
