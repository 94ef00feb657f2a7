// valuetext.h: numbers and matrices of numbers as MATLAB literals, without
// any array of the host: what the case tools write (display.cpp) and what
// host-free tests print of a failing matrix.
#ifndef MEXHOST_VALUETEXT_H
#define MEXHOST_VALUETEXT_H

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace mexhost {

// How a number is held: as a double, a single, or an integer class.
enum class NumberKind { double_, single, integer };

// The shortest decimal text that reads back to the same value of the kind.
inline std::string numberText(double v, NumberKind kind) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Inf" : "-Inf";
  if (v == 0.0) return std::signbit(v) ? "-0" : "0";
  char buffer[40];
  if (kind == NumberKind::integer) {
    std::snprintf(buffer, sizeof buffer, "%.0f", v);
    return buffer;
  }
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(buffer, sizeof buffer, "%.*g", precision, v);
    double back = std::strtod(buffer, nullptr);
    bool same =
        kind == NumberKind::single ? static_cast<float>(back) == static_cast<float>(v) : back == v;
    if (same) break;
  }
  return buffer;
}

// The dimensions as "2x3" (separator "x") or "2, 3" (separator ", ").
inline std::string sizeText(const std::vector<std::size_t> &dims, const char *separator) {
  std::string text;
  for (std::size_t i = 0; i < dims.size(); ++i) {
    if (i > 0) text += separator;
    text += std::to_string(dims[i]);
  }
  return text;
}

// A literal of column-major values alone: "5", "[1 2; 3 4]", "zeros(0, 3)",
// or "reshape([...], [2 2 2])".
inline std::string valuesLiteral(const std::vector<double> &values,
                                 const std::vector<std::size_t> &dims, NumberKind kind) {
  if (values.empty()) return "zeros(" + sizeText(dims, ", ") + ")";
  if (dims.size() > 2) {
    std::string flat = "[";
    for (std::size_t k = 0; k < values.size(); ++k) {
      flat += (k > 0 ? " " : "") + numberText(values[k], kind);
    }
    return "reshape(" + flat + "], [" + sizeText(dims, " ") + "])";
  }
  if (values.size() == 1) return numberText(values[0], kind);
  std::string text = "[";
  for (std::size_t r = 0; r < dims[0]; ++r) {
    if (r > 0) text += "; ";
    for (std::size_t c = 0; c < dims[1]; ++c) {
      text += (c > 0 ? " " : "") + numberText(values[r + c * dims[0]], kind);
    }
  }
  return text + "]";
}

// The M-by-N real double matrix whose column-major elements are values.
inline std::string matrixLiteral(const std::vector<double> &values, std::size_t M, std::size_t N) {
  return valuesLiteral(values, {M, N}, NumberKind::double_);
}

}  // namespace mexhost

#endif
