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
%   avoids every forbidden pair, PAIRSOLVE uses as few Inf pairs as it can;
%   such pairs are reported as 0 and add nothing to COST. Finite negative
%   costs are an error; -0 counts as 0.
%
%   Pass Inf, not NaN, for forbidden pairs: the fewest-forbidden-pairs rule
%   holds for Inf only. A NaN cost is never a zero of the working matrix, so
%   the Munkres steps never pair on it, and whenever they can complete
%   without it their result stands, even if it takes more Inf pairs than a
%   NaN pair would have saved:
%      pairsolve([2 Inf; Inf NaN])   % [0; 0], cost 0: two Inf pairs, both
%                                    % reported as 0, where [1; 0] at cost 2
%                                    % would need only the NaN pair
%   Only when the steps cannot complete does PAIRSOLVE solve again with
%   every NaN forbidden like Inf; a pair on a NaN is then reported as 0:
%      pairsolve([NaN Inf; Inf 2])   % [0; 2], cost 2
%   Which of the two happens depends on the order of rows and columns: the
%   matrix above with rows and columns reversed is [2 Inf; Inf NaN], the
%   first example.
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
%   pairsolve:tooManyOutputs (more than two outputs), pairsolve:invalidInput
%   (C not a real, full, 2-D double matrix), pairsolve:tooLarge (C with more
%   than 2147483647 rows or columns), pairsolve:costOverflow (costs so large
%   that the working costs overflow: scale C down), and the message
%   'All matrix elements have to be non-negative.' (no identifier) for a
%   finite negative cost.
%
%   See also MATCHPAIRS.

%!test
%! [a, cost] = pairsolve ([4 1 3; 2 0 5; 3 2 2]);
%! assert (a, [2; 1; 3]);
%! assert (cost, 5);
%!test
%! [a, cost] = pairsolve ([5 Inf; Inf 7]);
%! assert (a, [1; 2]);
%! assert (cost, 12);
%!test
%! ## Inf: as few forbidden pairs as possible, reported as 0.
%! [a, cost] = pairsolve ([2 Inf; Inf Inf]);
%! assert (a, [1; 0]);
%! assert (cost, 2);
%! ## Ties: each row takes the lowest free column; -0 is a zero.
%! [a, cost] = pairsolve ([0 0; 0 -0]);
%! assert (a, [1; 2]);
%! assert (cost, 0);
%!test
%! ## NaN: the steps' own result when they complete, the re-solve otherwise.
%! [a, cost] = pairsolve ([2 Inf; Inf NaN]);
%! assert (a, [0; 0]);
%! assert (cost, 0);
%! [a, cost] = pairsolve ([NaN Inf; Inf 2]);
%! assert (a, [0; 2]);
%! assert (cost, 2);
%!test
%! ## Empty and all-forbidden matrices.
%! [a, cost] = pairsolve (zeros (0, 3));
%! assert (a, zeros (0, 1));
%! assert (cost, 0);
%! [a, cost] = pairsolve ([Inf NaN; -Inf Inf]);
%! assert (a, [0; 0]);
%! assert (cost, 0);

%!error id=pairsolve:wrongNumInputs pairsolve ()
%!error id=pairsolve:wrongNumInputs pairsolve (1, 2)
%!error id=pairsolve:tooManyOutputs [a, cost, extra] = pairsolve ([1 2])
%!error id=pairsolve:invalidInput pairsolve (int32 ([1 2; 3 4]))
%!error id=pairsolve:invalidInput pairsolve (sparse ([1 2; 3 4]))
%!error id=pairsolve:tooLarge pairsolve (zeros (2^31, 0))
%!error id=pairsolve:costOverflow pairsolve ([1e308 Inf; Inf Inf])
%!error <All matrix elements have to be non-negative\.> pairsolve ([3 -1])
