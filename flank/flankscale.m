%FLANKSCALE Elements of X picked by selectors at a pattern, times weights.
%   Y = FLANKSCALE(u, X, v, P, W) returns the m-by-n double matrix that
%   holds X(u(r), v(c))*W(r, c) at every position (r, c) of the pattern P
%   and 0 elsewhere: FLANKMASK(u, X, v, P) multiplied elementwise by W, but
%   formed at the positions of P only. u is an m-by-1 column of rows of X
%   and v a 1-by-n row of columns of X; an entry below 1 (after truncation
%   toward zero: 0, 0.5, -3) selects nothing, and the positions that use it
%   stay 0. W must hold at least m*n elements; they are read as an m-by-n
%   matrix in column-major order, whatever W's shape.
%
%   P is a position list of an m-by-n 0/1 matrix: columns 1..k hold the row
%   (first row) and column (second row) of each position, in any order; the
%   last column holds [m; n]. From a sparse or full 0/1 matrix S:
%
%      [i, j] = find(S);
%      P = [[i(:)'; j(:)'], [size(S, 1); size(S, 2)]];
%
%   A position listed twice gets twice the value. P = [m; n] gives the m-by-n
%   zero matrix. An empty P ([] or zeros(2, 0)) stands for the N diagonal
%   positions, N = size(X, 2); u and v must then have length N.
%
%   Each product X(u(r), v(c))*W(r, c) is rounded by itself and then added
%   to Y (never fused), in the order of P. Only the real parts of X and W
%   are used. Selector entries that no position of P uses are not read.
%
%   Example:
%      X = [1 2 3; 4 5 6];
%      flankscale([2; 1], X, [3 1], [1 2 2; 1 2 2], [10 20; 30 40])
%      % [60 0; 0 40]: X(2, 3)*10 at (1, 1), X(1, 1)*40 at (2, 2)
%
%   Errors: as FLANKMASK, with the prefix flankscale:, and also
%   flankscale:invalidInput when W holds fewer than m*n elements.
%
%   See also FLANKMASK, FLANKINNER, FLANKPROD, FIND.

%!shared X
%! X = [1 2 3; 4 5 6];
%!assert (flankscale ([2; 1], X, [3 1], [1 2 2; 1 2 2], [10 20; 30 40]), [60 0; 0 40])
%!test
%! ## Against the plain expression; W is read in column-major order.
%! u = [2; 1; 2];
%! v = [3 1 2];
%! S = [1 0 1; 1 1 0; 0 1 1];
%! W = reshape (1:9, 3, 3);
%! [i, j] = find (S);
%! P = [[i(:)'; j(:)'], [3; 3]];
%! assert (flankscale (u, X, v, P, W), S .* X(u, v) .* W);
%! assert (flankscale (u, X, v, P, 1:10), S .* X(u, v) .* W);
%!assert (flankscale ([0; 1], X, [1 1], [1 2 2; 1 2 2], [5 5; 5 5]), [0 0; 0 5])

%!error <incorrect dimension> flankscale ([1; 2], X, 1, [1 1; 1 1], 1)
%!error id=flankscale:wrongNumInputs flankscale (1, X, 1, [1 1; 1 1])
%!error id=flankscale:tooManyOutputs [Y, Z] = flankscale (1, X, 1, [1 1; 1 1], 1)
%!error id=flankscale:invalidInput flankscale ([2; 1], X, [3 1], [1 2 2; 1 2 2], [10 20 30])
%!error id=flankscale:invalidInput flankscale (1, X, 1, [1 1; 1 1], single (1))
%!error id=flankscale:invalidPositionList flankscale (1, X, 1, [1 1; 1e10 1], 1)
%!error id=flankscale:indexOutOfRange flankscale (1, X, 4, [1 1; 1 1], 1)
%!error id=flankscale:tooLarge flankscale (1, zeros (2^31, 0), 1, [1 1; 1 1], 1)
