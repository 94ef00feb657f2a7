%FLANKPROD Product L*X*R with 0/1 matrices L and R given as position lists.
%   Y = FLANKPROD(L, X, R) returns L*X*R for the dense M-by-N double matrix
%   X, where L is an mL-by-M and R an N-by-nR matrix of zeros and ones, each
%   passed as a position list (below). Y is a full mL-by-nR double matrix.
%   Neither 0/1 matrix is ever formed: the work is one addition per pair of
%   an entry of L and an entry of R, whatever the sizes of X and Y.
%
%   An empty list ([] or zeros(2, 0)) stands for the identity: FLANKPROD([],
%   X, R) is X*R, FLANKPROD(L, X, []) is L*X, FLANKPROD([], X, []) is X.
%
%   Position lists. A 0/1 matrix S is passed as a 2-by-(k+1) double array:
%   columns 1..k hold the row (first row) and column (second row) of each
%   one of S, in any order; the last column holds S's size. From a sparse
%   or full 0/1 matrix S:
%
%      [i, j] = find(S);
%      P = [[i(:)'; j(:)'], [size(S, 1); size(S, 2)]];
%
%   A list with only the size column ([rows; cols]) is the all-zero matrix
%   of that size. A position listed twice counts twice, as if S held a 2
%   there. Values are truncated toward zero (2.7 is 2). Every entry must lie
%   within the size the list declares.
%
%   The order of additions is fixed: every element of Y starts at 0 and
%   receives its terms with L's entries in the outer loop and R's entries in
%   the inner loop, each in list order, so the result is the same bit for
%   bit on every host. -0 in X adds as 0. Only the real part of X is used.
%
%   Example:
%      X = [1 2; 3 4];
%      L = [1 1; 2 2];             % the 1-by-2 matrix [0 1]
%      Y = flankprod(L, X, [])     % Y = [3 4], the second row of X
%
%      S = sparse([0 1; 1 0]);     % swap the rows
%      [i, j] = find(S);
%      P = [[i(:)'; j(:)'], [2; 2]];
%      flankprod(P, X, [])         % [3 4; 1 2]
%
%   Errors: 'incorrect dimension' (no identifier) when L's declared column
%   count differs from size(X, 1) or R's declared row count from size(X, 2);
%   flankprod:wrongNumInputs (fewer than three inputs),
%   flankprod:tooManyOutputs (more than one output), flankprod:invalidInput
%   (an input that is not a full double array), flankprod:invalidPositionList
%   (a list with columns but not 2 rows, a value that is not finite or lies
%   outside the signed 32-bit range, a negative declared size, an entry
%   outside its declared size), flankprod:tooLarge (X with more than
%   2147483647 rows or columns, Y with more than 2147483647 elements).
%
%   See also FLANKMASK, FLANKSCALE, FLANKINNER, FIND, SPARSE.

%!shared X
%! X = [1 2; 3 4];
%!assert (flankprod ([1 1; 2 2], X, []), [3 4])
%!test
%! S = sparse ([0 1; 1 0]);
%! [i, j] = find (S);
%! P = [[i(:)'; j(:)'], [2; 2]];
%! assert (flankprod (P, X, []), [3 4; 1 2]);
%!test
%! ## Identities, the zero matrix, a position listed twice, truncation.
%! assert (flankprod ([], X, []), X);
%! assert (flankprod ([3; 2], X, [2; 4]), zeros (3, 4));
%! assert (flankprod ([1 1 1; 2 2 2], X, []), [6 8]);
%! assert (flankprod ([1.9 1; 2.7 2], X, [2.2 2; 1 1]), 4);
%!test
%! ## L*X*R for random 0/1 matrices built with find.
%! rand ("seed", 1);
%! M = magic (5);
%! L = double (rand (3, 5) > 0.5);
%! R = double (rand (5, 4) > 0.5);
%! [i, j] = find (L);
%! PL = [[i(:)'; j(:)'], [3; 5]];
%! [i, j] = find (R);
%! PR = [[i(:)'; j(:)'], [5; 4]];
%! assert (flankprod (PL, M, PR), L * M * R);
%!assert (flankprod ([], complex (X, 1), []), X)

%!error <incorrect dimension> flankprod ([1 1; 1 3], X, [])
%!error id=flankprod:wrongNumInputs flankprod ([], X)
%!error id=flankprod:tooManyOutputs [Y, Z] = flankprod ([], X, [])
%!error id=flankprod:invalidInput flankprod ([], single (X), [])
%!error id=flankprod:invalidPositionList flankprod ([1 1; 2 2; 1 1], X, [])
%!error id=flankprod:invalidPositionList flankprod ([1 3; 3 2], X, [])
%!error id=flankprod:tooLarge flankprod ([2147483647.5; 2], X, [])
