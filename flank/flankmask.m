%FLANKMASK Elements of X picked by row and column selectors, at a pattern.
%   Y = FLANKMASK(u, X, v, P) returns the m-by-n double matrix that holds
%   X(u(r), v(c)) at every position (r, c) of the pattern P and 0 elsewhere.
%   u is an m-by-1 column of rows of X and v a 1-by-n row of columns of X;
%   an entry that is below 1 (after truncation toward zero: 0, 0.5, -3)
%   selects nothing, and the positions that use it stay 0. In matrix terms
%   Y is L*X*R masked by P, with L(r, u(r)) = 1 and R(v(c), c) = 1. The work
%   is one step per entry of P, whatever the sizes of X and Y.
%
%   P is a position list of an m-by-n 0/1 matrix: columns 1..k hold the row
%   (first row) and column (second row) of each position, in any order; the
%   last column holds [m; n]. From a sparse or full 0/1 matrix S:
%
%      [i, j] = find(S);
%      P = [[i(:)'; j(:)'], [size(S, 1); size(S, 2)]];
%
%   A position listed twice gets twice the value. P = [m; n] (only the size)
%   gives the m-by-n zero matrix. An empty P ([] or zeros(2, 0)) stands for
%   the N diagonal positions, N = size(X, 2); u and v must then have length
%   N. Values in P, u and v are truncated toward zero (2.9 selects 2).
%
%   Terms are added to Y in the order of P; -0 in X adds as 0. Only the real
%   part of X is used. Selector entries that no position of P uses are not
%   read.
%
%   Example:
%      X = [1 2 3; 4 5 6];
%      flankmask(2, X, 3, [1 1; 1 1])          % 6, that is X(2, 3)
%      flankmask([2; 1; 2], X, [1 3 2], [])    % diag([4 3 5])
%
%   Errors: 'incorrect dimension' (no identifier) when P's declared row count
%   differs from size(u, 1) or its column count from size(v, 2);
%   flankmask:wrongNumInputs (fewer than four inputs),
%   flankmask:tooManyOutputs (more than one output), flankmask:invalidInput
%   (an input that is not a full double array, a selector without entries),
%   flankmask:invalidPositionList (P with columns but not 2 rows, a value
%   that is not finite or outside the signed 32-bit range, a negative size,
%   a position outside the declared size), flankmask:indexOutOfRange (a used
%   selector entry that is not finite or selects past X's rows or columns),
%   flankmask:tooLarge.
%
%   See also FLANKSCALE, FLANKINNER, FLANKPROD, FIND.

%!shared X
%! X = [1 2 3; 4 5 6];
%!assert (flankmask (2, X, 3, [1 1; 1 1]), 6)
%!assert (flankmask ([2; 1; 2], X, [1 3 2], []), diag ([4 3 5]))
%!test
%! ## Against the plain expression, with the pattern built by find.
%! u = [2; 1; 2];
%! v = [3 1 2];
%! S = [1 0 1; 1 1 0; 0 1 1];
%! [i, j] = find (S);
%! assert (flankmask (u, X, v, [[i(:)'; j(:)'], [3; 3]]), S .* X(u, v));
%!test
%! ## Entries below 1 select nothing; values truncate; a repeated position
%! ## gets twice the value; P = [m; n] alone is the zero matrix.
%! assert (flankmask ([0; 1], X, [0.5 3], [1 2 2; 2 2 2]), [0 0; 0 3]);
%! assert (flankmask ([2.9; 1], X, [3.2 1], [1 2; 1 2]), [6 0; 0 0]);
%! assert (flankmask (1, X, 2, [1 1 1; 1 1 1]), 4);
%! assert (flankmask ([1; 1], X, [1 1 1], [2; 3]), zeros (2, 3));
%!assert (flankmask (1, complex (X, 1), 1, [1 1; 1 1]), 1)

%!error <incorrect dimension> flankmask ([1; 2], X, 1, [1 1; 1 1])
%!error id=flankmask:wrongNumInputs flankmask (1, X, 1)
%!error id=flankmask:tooManyOutputs [Y, Z] = flankmask (1, X, 1, [1 1; 1 1])
%!error id=flankmask:invalidInput flankmask (int8 (1), X, 1, [1 1; 1 1])
%!error id=flankmask:invalidPositionList flankmask (1, X, 1, [1 1 1])
%!error id=flankmask:indexOutOfRange flankmask (3, X, 1, [1 1; 1 1])
%!error id=flankmask:indexOutOfRange flankmask (NaN, X, 1, [1 1; 1 1])
%!error id=flankmask:tooLarge flankmask (ones (50000, 1), X, ones (1, 50000), [50000; 50000])
