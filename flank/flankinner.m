%FLANKINNER Weighted sum of the elements of X picked at a pattern.
%   y = FLANKINNER(u, X, v, P, W) returns the scalar sum, over the positions
%   (r, c) of the pattern P, of X(u(r), v(c))*W(r, c): the sum of all
%   elements of FLANKSCALE(u, X, v, P, W), formed directly without the
%   matrix. u is an m-by-1 column of rows of X and v a 1-by-n row of columns
%   of X; an entry below 1 (after truncation toward zero: 0, 0.5, -3)
%   selects nothing, and the positions that use it add nothing. W must hold
%   at least m*n elements, read as an m-by-n matrix in column-major order.
%
%   P is a position list of an m-by-n 0/1 matrix: columns 1..k hold the row
%   (first row) and column (second row) of each position, in any order; the
%   last column holds [m; n]. From a sparse or full 0/1 matrix S:
%
%      [i, j] = find(S);
%      P = [[i(:)'; j(:)'], [size(S, 1); size(S, 2)]];
%
%   A position listed twice adds its term twice. P = [m; n] gives 0. An
%   empty P ([] or zeros(2, 0)) stands for the N diagonal positions,
%   N = size(X, 2); u and v must then have length N.
%
%   The sum starts at 0 and takes its terms in the order of P, each product
%   rounded by itself before it is added; so y can differ in the last bits
%   from sum(sum(FLANKSCALE(...))), which adds in another order. Only the
%   real parts of X and W are used.
%
%   Example:
%      X = [1 2 3; 4 5 6];
%      flankinner([2; 1], X, [3 1], [1 2 2; 1 2 2], [10 20; 30 40])   % 100
%
%   Errors: as FLANKSCALE, with the prefix flankinner:.
%
%   See also FLANKSCALE, FLANKMASK, FLANKPROD, FIND.

%!shared X
%! X = [1 2 3; 4 5 6];
%!assert (flankinner ([2; 1], X, [3 1], [1 2 2; 1 2 2], [10 20; 30 40]), 100)
%!test
%! ## The sum of the weighted terms, in the order of P.
%! u = [2; 1; 2];
%! v = [3 1 2];
%! S = [1 0 1; 1 1 0; 0 1 1];
%! W = reshape (1:9, 3, 3);
%! [i, j] = find (S);
%! P = [[i(:)'; j(:)'], [3; 3]];
%! assert (flankinner (u, X, v, P, W), sum (sum (S .* X(u, v) .* W)));
%!test
%! ## Terms are added in P's order: 1e16 + 1 + (-1e16) is 0, not 1.
%! assert (flankinner ([1; 1; 1], [1e16 1 -1e16], [1 2 3], [1 2 3 3; 1 2 3 3], eye (3)), 0);
%!assert (flankinner ([1; 2], X, [1 2], [2; 2], ones (2)), 0)
%!assert (flankinner ([1; 2; 1], X, [1 2 3], [], ones (3)), 9)

%!error <incorrect dimension> flankinner ([2; 1], X, [1 3 2], [], ones (3, 3))
%!error id=flankinner:wrongNumInputs flankinner (1, X, 1, [1 1; 1 1])
%!error id=flankinner:tooManyOutputs [y, z] = flankinner (1, X, 1, [1 1; 1 1], 1)
%!error id=flankinner:invalidInput flankinner ([2; 1], X, [3 1], [1 2 2; 1 2 2], [10 20 30])
%!error id=flankinner:invalidPositionList flankinner (1, X, 1, [1 1; 2 1], 1)
%!error id=flankinner:indexOutOfRange flankinner (Inf, X, 1, [1 1; 1 1], 1)
%!error id=flankinner:tooLarge flankinner (1, zeros (2^31, 0), 1, [1 1; 1 1], 1)
