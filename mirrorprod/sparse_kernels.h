// sparse_kernels.h: products and triangular solves over compressed sparse
// matrices in double precision.
//
// A sparse operand A is three arrays: Apr (values), Air (indices) and Ajc
// (starts). Compressed vector v holds the positions Ajc[v] .. Ajc[v+1] - 1,
// walked in storage order. CSC kernels read the vectors as columns and Air as
// row indices (the host's own layout); CSR kernels read them as rows and Air
// as column indices, so the host's arrays of S given to a CSR kernel stand
// for S transposed. CSRsymm kernels take one triangle of a symmetric matrix
// by rows; each stored off-diagonal entry also stands for its mirror image.
//
// Names: storage_operation_formula_type[_variant]. CAB: C receives A*B (in
// the solves, the solution of A*C = B). CaABC: C := a*A*B + C.
//
// Every kernel writes only C (or Cpr and Cpi), allocates nothing, checks
// nothing and returns nothing. Counts are signed 32-bit; positions into the
// value and index arrays are taken at the 64-bit width of Ajc, so only the
// counts limit the size. Every product is formed by itself and then added
// (the build forbids fused multiply-add), and the order of the additions
// below is part of each kernel's contract: it fixes every result bit for bit.
//
// The callers' preconditions: arrays of the lengths the counts imply,
// Ajc[0] = 0 and non-decreasing starts, indices within range, outputs that
// overlap no input (except that each triangular solve accepts B and C as one
// array), and for the solves a triangular matrix with every diagonal entry
// stored where the kernel looks for it.
//
// The functions are file-local (internal linkage) in every source unit that
// includes this header; the gateway uses one of them, tests call them all.
#ifndef MIRRORPROD_SPARSE_KERNELS_H
#define MIRRORPROD_SPARSE_KERNELS_H

#include <cstdint>

namespace {

using SparseIndex = std::uint64_t;

// Offset of the first element of a dense column with the given stride,
// computed at 64 bits so that large dense operands do not overflow.
inline std::int64_t columnStart(int column, int stride) {
  return static_cast<std::int64_t>(column) * stride;
}

inline void clearDense(double *C, std::int64_t count) {
  for (std::int64_t q = 0; q < count; ++q) {
    C[q] = 0.0;
  }
}

// The walk of the dense operands that the matrix products share: C := 0
// over its n columns of stride m, then column(Bc, Cc) for each column c in
// turn, Bc and Cc pointing at column c of B and of C.
template <typename Column>
inline void columnByColumn(int m, int n, const double *B, double *C, Column column) {
  clearDense(C, static_cast<std::int64_t>(n) * m);
  for (int c = 0; c < n; ++c) column(B + columnStart(c, m), C + columnStart(c, m));
}

// Symmetric matrix times vector, the host's lower triangle read as the upper
// triangle by rows: C := (S + S' - diag(S)) * B for the stored matrix S.
// Row j's running total starts from the mirror terms that earlier rows put
// into C[j], takes the diagonal when it is the row's first entry (the only
// entry tested, so the inner loop carries no test), then the row's other
// entries in storage order; each of those also adds its mirror term straight
// into C[i]. An entry with index j that is not first is counted once, through
// the running total, since the final store overwrites its direct addition.
inline void CSRsymm_VecMult_CAB_double_tril(int n, const double *Apr, const SparseIndex *Air,
                                            const SparseIndex *Ajc, const double *B, double *C) {
  if (n == 0) {
    return;
  }
  clearDense(C, n);
  for (int j = 0; j < n; ++j) {
    SparseIndex s = Ajc[j];
    const SparseIndex e = Ajc[j + 1];
    const double b = B[j];
    double acc = C[j];
    if (s != e) {
      if (Air[s] == static_cast<SparseIndex>(j)) {
        acc = acc + b * Apr[s];
        ++s;
      }
      for (SparseIndex k = s; k < e; ++k) {
        const SparseIndex i = Air[k];
        const double v = Apr[k];
        C[i] = b * v + C[i];
        acc = acc + B[i] * v;
      }
    }
    C[j] = acc;
  }
}

// The general form of the kernel above: every entry is tested for the
// diagonal. Identical results on every input. m is not read.
inline void CSRsymm_VecMult_CAB_double(int /*m*/, int n, const double *Apr, const SparseIndex *Air,
                                       const SparseIndex *Ajc, const double *B, double *C) {
  if (n == 0) {
    return;
  }
  clearDense(C, n);
  for (int r = 0; r < n; ++r) {
    const double b = B[r];
    double acc = C[r];
    for (SparseIndex k = Ajc[r]; k < Ajc[r + 1]; ++k) {
      const SparseIndex i = Air[k];
      const double v = Apr[k];
      if (i == static_cast<SparseIndex>(r)) {
        acc = acc + b * v;
      } else {
        C[i] = b * v + C[i];
        acc = acc + B[i] * v;
      }
    }
    C[r] = acc;
  }
}

// Complex symmetric matrix (upper triangle by rows, no conjugation) times a
// complex vector. Walks m rows and clears n entries of each output part;
// entries below the diagonal are skipped, so passing both triangles gives the
// same result as the upper one alone. Every term goes straight into C.
inline void CSRsymm_CmplxVecMult_CAB_double(int m, int n, const double *Apr, const double *Api,
                                            const SparseIndex *Air, const SparseIndex *Ajc,
                                            const double *Bpr, const double *Bpi, double *Cpr,
                                            double *Cpi) {
  clearDense(Cpr, n);
  clearDense(Cpi, n);
  for (int r = 0; r < m; ++r) {
    const SparseIndex row = static_cast<SparseIndex>(r);
    for (SparseIndex k = Ajc[r]; k < Ajc[r + 1]; ++k) {
      const SparseIndex i = Air[k];
      const double v = Apr[k];
      const double w = Api[k];
      if (i == row) {
        Cpr[r] = (Bpr[r] * v - Bpi[r] * w) + Cpr[r];
        Cpi[r] = (Bpi[r] * v + Bpr[r] * w) + Cpi[r];
      } else if (i > row) {
        Cpr[i] = (Bpr[r] * v - Bpi[r] * w) + Cpr[i];
        Cpi[i] = (Bpi[r] * v + Bpr[r] * w) + Cpi[i];
        Cpr[r] = (Bpr[i] * v - Bpi[i] * w) + Cpr[r];
        Cpi[r] = (Bpi[i] * v + Bpr[i] * w) + Cpi[r];
      }
    }
  }
}

// C := a*A*B + C for an m-by-n A by columns; a*B[j] is formed once per
// column, then multiplied by each stored value. m is not read.
inline void CSC_VecMult_CaABC_double(int /*m*/, int n, double a, const double *Apr,
                                     const SparseIndex *Air, const SparseIndex *Ajc,
                                     const double *B, double *C) {
  for (int j = 0; j < n; ++j) {
    const double scaled = a * B[j];
    for (SparseIndex k = Ajc[j]; k < Ajc[j + 1]; ++k) {
      C[Air[k]] = scaled * Apr[k] + C[Air[k]];
    }
  }
}

// C := a*A*B + C for an n-by-m A by rows; each row's sum is gathered in a
// local total and added to C[r] once. m is not read.
inline void CSR_VecMult_CaABC_double(int /*m*/, int n, double a, const double *Apr,
                                     const SparseIndex *Air, const SparseIndex *Ajc,
                                     const double *B, double *C) {
  for (int r = 0; r < n; ++r) {
    double t = 0.0;
    for (SparseIndex k = Ajc[r]; k < Ajc[r + 1]; ++k) {
      t = t + (a * B[Air[k]]) * Apr[k];
    }
    C[r] = t + C[r];
  }
}

// C := A*B for an m-by-n A by columns; C is cleared even when n is 0.
inline void CSC_VecMult_CAB_double(int m, int n, const double *Apr, const SparseIndex *Air,
                                   const SparseIndex *Ajc, const double *B, double *C) {
  clearDense(C, m);
  for (int j = 0; j < n; ++j) {
    const double b = B[j];
    for (SparseIndex k = Ajc[j]; k < Ajc[j + 1]; ++k) {
      C[Air[k]] = b * Apr[k] + C[Air[k]];
    }
  }
}

// Complex C := A*B for an m-by-n A by columns: (v + iw)(br + i bi) has the
// real part br*v - bi*w and the imaginary part bi*v + br*w.
inline void CSC_CmplxVecMult_CAB_double(int m, int n, const double *Apr, const double *Api,
                                        const SparseIndex *Air, const SparseIndex *Ajc,
                                        const double *Bpr, const double *Bpi, double *Cpr,
                                        double *Cpi) {
  clearDense(Cpr, m);
  clearDense(Cpi, m);
  for (int j = 0; j < n; ++j) {
    const double br = Bpr[j];
    const double bi = Bpi[j];
    for (SparseIndex k = Ajc[j]; k < Ajc[j + 1]; ++k) {
      const SparseIndex i = Air[k];
      const double v = Apr[k];
      const double w = Api[k];
      Cpr[i] = (br * v - bi * w) + Cpr[i];
      Cpi[i] = (bi * v + br * w) + Cpi[i];
    }
  }
}

// C := A*B for an n-by-m A by rows. m is not read.
inline void CSR_VecMult_CAB_double(int /*m*/, int n, const double *Apr, const SparseIndex *Air,
                                   const SparseIndex *Ajc, const double *B, double *C) {
  if (n == 0) {
    return;
  }
  clearDense(C, n);
  for (int r = 0; r < n; ++r) {
    double t = 0.0;
    for (SparseIndex k = Ajc[r]; k < Ajc[r + 1]; ++k) {
      t = t + B[Air[k]] * Apr[k];
    }
    C[r] = t + C[r];
  }
}

// Complex C := A*B for an n-by-m A by rows. m is not read.
inline void CSR_CmplxVecMult_CAB_double(int /*m*/, int n, const double *Apr, const double *Api,
                                        const SparseIndex *Air, const SparseIndex *Ajc,
                                        const double *Bpr, const double *Bpi, double *Cpr,
                                        double *Cpi) {
  if (n == 0) {
    return;
  }
  clearDense(Cpr, n);
  clearDense(Cpi, n);
  for (int r = 0; r < n; ++r) {
    double tr = 0.0;
    double ti = 0.0;
    for (SparseIndex k = Ajc[r]; k < Ajc[r + 1]; ++k) {
      const SparseIndex i = Air[k];
      const double v = Apr[k];
      const double w = Api[k];
      tr = tr + (Bpr[i] * v - Bpi[i] * w);
      ti = ti + (Bpi[i] * v + Bpr[i] * w);
    }
    Cpr[r] = tr + Cpr[r];
    Cpi[r] = ti + Cpi[r];
  }
}

// Solves A*C = B for a lower-triangular A by columns, the diagonal first in
// each column (taken without a test): forward substitution, each solved
// C[j] scattered into the rows below. B and C may be one array.
inline void CSC_VecTriangSlvLD_CAB_double(int n, const double *Apr, const SparseIndex *Air,
                                          const SparseIndex *Ajc, const double *B, double *C) {
  if (n == 0) {
    return;
  }
  for (int r = 0; r < n; ++r) {
    C[r] = B[r];
  }
  for (int j = 0; j < n; ++j) {
    const SparseIndex s = Ajc[j];
    const SparseIndex e = Ajc[j + 1];
    C[j] = C[j] / Apr[s];
    for (SparseIndex k = s + 1; k < e; ++k) {
      C[Air[k]] = C[Air[k]] - C[j] * Apr[k];
    }
  }
}

// Solves A*C = B for an upper-triangular A by columns, the diagonal last in
// each column: backward substitution, each solved C[j] scattered into the
// rows above. B and C may be one array.
inline void CSC_VecTriangSlvUD_CAB_double(int n, const double *Apr, const SparseIndex *Air,
                                          const SparseIndex *Ajc, const double *B, double *C) {
  if (n == 0) {
    return;
  }
  for (int r = 0; r < n; ++r) {
    C[r] = B[r];
  }
  for (int j = n - 1; j >= 0; --j) {
    const SparseIndex s = Ajc[j];
    const SparseIndex d = Ajc[j + 1] - 1;
    C[j] = C[j] / Apr[d];
    for (SparseIndex k = s; k < d; ++k) {
      C[Air[k]] = C[Air[k]] - C[j] * Apr[k];
    }
  }
}

// Solves A*C = B for a lower-triangular A by rows, the diagonal anywhere in
// its row (found by testing every entry; of several, the last counts). Each
// C[r] is written once, from the rows already solved. A row that stores no
// diagonal divides by 0.0, exactly as a stored zero diagonal would.
inline void CSR_VecTriangSlvLD_CAB_double(int n, const double *Apr, const SparseIndex *Air,
                                          const SparseIndex *Ajc, const double *B, double *C) {
  for (int r = 0; r < n; ++r) {
    double t = 0.0;
    double divisor = 0.0;
    for (SparseIndex k = Ajc[r]; k < Ajc[r + 1]; ++k) {
      const SparseIndex i = Air[k];
      if (i == static_cast<SparseIndex>(r)) {
        divisor = Apr[k];
      } else {
        t = t + C[i] * Apr[k];
      }
    }
    C[r] = (B[r] - t) / divisor;
  }
}

// Solves A*C = B for an upper-triangular A by rows, the diagonal first in
// each row (taken without a test): backward substitution, each C[r] written
// once. B and C may be one array.
inline void CSR_VecTriangSlvUD_CAB_double(int n, const double *Apr, const SparseIndex *Air,
                                          const SparseIndex *Ajc, const double *B, double *C) {
  for (int r = n - 1; r >= 0; --r) {
    const SparseIndex s = Ajc[r];
    double t = 0.0;
    for (SparseIndex k = s + 1; k < Ajc[r + 1]; ++k) {
      t = t + C[Air[k]] * Apr[k];
    }
    C[r] = (B[r] - t) / Apr[s];
  }
}

// C := A*B for an m-by-p A by columns and dense B and C of n columns, both
// with column stride m (so B's first p entries of each column are read).
// The two counts after B and after C are part of the argument list and are
// not read: B and C are always walked with stride m.
inline void CSC_MatMult_CAB_double(int m, int n, int p, const double *Apr, const SparseIndex *Air,
                                   const SparseIndex *Ajc, const double *B, int /*not read*/,
                                   double *C, int /*not read*/) {
  columnByColumn(m, n, B, C, [=](const double *Bc, double *Cc) {
    for (int j = 0; j < p; ++j) {
      const double b = Bc[j];
      for (SparseIndex k = Ajc[j]; k < Ajc[j + 1]; ++k) {
        Cc[Air[k]] = b * Apr[k] + Cc[Air[k]];
      }
    }
  });
}

// C := A*B for a symmetric A of p rows (one triangle by rows) and dense B
// and C of n columns with stride m, one column of B at a time. Every entry is
// tested for the diagonal; each off-diagonal entry adds its own term and its
// mirror term, all straight into C.
inline void CSRsymm_MatMult_CAB_double(int m, int n, int p, const double *Apr,
                                       const SparseIndex *Air, const SparseIndex *Ajc,
                                       const double *B, double *C) {
  columnByColumn(m, n, B, C, [=](const double *Bc, double *Cc) {
    for (int r = 0; r < p; ++r) {
      for (SparseIndex k = Ajc[r]; k < Ajc[r + 1]; ++k) {
        const SparseIndex i = Air[k];
        const double v = Apr[k];
        if (i == static_cast<SparseIndex>(r)) {
          Cc[r] = Bc[r] * v + Cc[r];
        } else {
          Cc[i] = Bc[r] * v + Cc[i];
          Cc[r] = Bc[i] * v + Cc[r];
        }
      }
    }
  });
}

// The same product with the two outer loops exchanged: A is read once and
// each entry is applied to every column of B in turn. Every element of C
// receives its terms in the same order as above, so the results are
// identical bit for bit.
inline void CSRsymm_MatMult_CAB_double_bis(int m, int n, int p, const double *Apr,
                                           const SparseIndex *Air, const SparseIndex *Ajc,
                                           const double *B, double *C) {
  clearDense(C, static_cast<std::int64_t>(n) * m);
  for (int r = 0; r < p; ++r) {
    for (SparseIndex k = Ajc[r]; k < Ajc[r + 1]; ++k) {
      const SparseIndex i = Air[k];
      const double v = Apr[k];
      if (i == static_cast<SparseIndex>(r)) {
        for (int c = 0; c < n; ++c) {
          const std::int64_t rc = columnStart(c, m) + r;
          C[rc] = B[rc] * v + C[rc];
        }
      } else {
        for (int c = 0; c < n; ++c) {
          const std::int64_t rc = columnStart(c, m) + r;
          const std::int64_t ic = columnStart(c, m) + static_cast<std::int64_t>(i);
          C[ic] = B[rc] * v + C[ic];
          C[rc] = B[ic] * v + C[rc];
        }
      }
    }
  }
}

}  // namespace

#endif
