%PAIRSOLVE Minimum-cost assignment of rows to columns (Munkres method).
%   ASSIGNMENT = PAIRSOLVE(C) pairs the rows of the M-by-N non-negative cost
%   matrix C with its columns, at most one column per row and one row per
%   column, min(M, N) pairs in all, so that the sum of the paired costs is
%   least. ASSIGNMENT is an M-by-1 double vector: ASSIGNMENT(r) is the column
%   paired with row r, or 0 when row r has none.
%
%   [ASSIGNMENT, COST] = PAIRSOLVE(C) also returns the total cost of the pairs.
%
%   Inf (or -Inf) marks a forbidden pair. When no complete set of pairs
%   avoids every forbidden pair, the solver uses as few of them as it can;
%   such pairs are reported as 0 and add nothing to COST. NaN also means
%   "forbidden" (where the solve can avoid a NaN cost it does so entirely).
%   Finite negative costs are an error; -0 counts as 0.
%
%   Among several assignments of equal cost, PAIRSOLVE always returns the
%   same one: the one the classic Munkres steps reach (for ties, a row takes
%   the lowest free column), on every host.
%
%   Example:
%      C = [4 1 3; 2 0 5; 3 2 2];
%      [a, cost] = pairsolve(C)      % a = [2; 1; 3], cost = 5
%
%      [a, cost] = pairsolve([5 Inf; Inf 7])   % a = [1; 2], cost = 12
%
%   Errors: pairsolve:wrongNumInputs (not exactly one input),
%   pairsolve:tooManyOutputs, pairsolve:invalidInput (C not a real, full,
%   2-D double matrix), pairsolve:costOverflow (costs so large that the
%   working costs overflow: scale C down), and the message
%   'All matrix elements have to be non-negative.'
%
%   See also MATCHPAIRS.
