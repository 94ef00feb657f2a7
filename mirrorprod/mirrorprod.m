%MIRRORPROD Symmetric sparse matrix times vector, from the lower triangle.
%   Y = MIRRORPROD(X, A) returns Y = S*X for the symmetric matrix S of which
%   only the lower triangle, diagonal included, is passed: A = sparse(tril(S)),
%   a sparse double n-by-n matrix. The upper triangle is never formed; each
%   stored off-diagonal entry A(i,j) is used for S(i,j) and for S(j,i).
%
%   X is a double array of at least n elements; its first n elements are
%   used, whatever its shape (of an n-by-k matrix, the first column). Y is a
%   real n-by-1 double vector. Only real parts are read: a complex A or X
%   is accepted and its imaginary part ignored.
%
%   For a lower triangle A, each element of Y is summed as in the sparse
%   product S*X: starting from +0, the terms of columns 1, 2, ..., n in
%   turn; results are the same bit for bit on every host. Entries that are
%   not stored contribute nothing: an Inf or NaN in X meets only the stored
%   entries of its column.
%
%   Whatever A stores is mirrored: Y = (A + A.' - diag(diag(A)))*X. Passing
%   the whole of S instead of its lower triangle therefore counts every
%   off-diagonal entry twice. Extra inputs after A are ignored.
%
%   Example:
%      S = [2 1 4; 1 3 5; 4 5 6];
%      y = mirrorprod([1; 10; 100], sparse(tril(S)))   % y = [412; 531; 654]
%
%   Errors: mirrorprod:wrongNumInputs (fewer than two inputs),
%   mirrorprod:tooManyOutputs (more than one output), mirrorprod:notSparse
%   (A not a sparse double matrix), mirrorprod:tooLarge (A with 2^31 rows
%   or more), mirrorprod:notSquare (A not square), mirrorprod:invalidInput
%   (X not a full double array, or with fewer than n elements).
%
%   See also TRIL, SPARSE, MTIMES.

%!shared S, A
%! S = [2 1 4; 1 3 5; 4 5 6];
%! A = sparse (tril (S));
%!assert (mirrorprod ([1; 10; 100], A), [412; 531; 654])
%!test
%! ## Only the first n elements of x are used, whatever its shape.
%! assert (mirrorprod ([1 10 100 7], A), [412; 531; 654]);
%! assert (mirrorprod ([1 100; 10 7; 100 7], A), [412; 531; 654]);
%!test
%! ## Whatever A stores is mirrored: the whole S counts off-diagonals twice.
%! x = [1; -2; 3];
%! assert (mirrorprod (x, sparse (S)), (S + S' - diag (diag (S))) * x);
%!test
%! ## The 1-D Laplacian from its lower triangle.
%! L = sparse ([1 2 2 3 3 4 4], [1 1 2 2 3 3 4], [2 -1 2 -1 2 -1 2], 4, 4);
%! assert (mirrorprod ([1; 2; 3; 4], L), [0; 0; 0; 5]);
%!assert (mirrorprod (complex ([1; 10; 100], 1), A), [412; 531; 654])
%!assert (mirrorprod (zeros (0, 1), sparse (0, 0)), zeros (0, 1))

%!error id=mirrorprod:wrongNumInputs mirrorprod ([1; 2; 3])
%!error id=mirrorprod:tooManyOutputs [y, z] = mirrorprod ([1; 2; 3], A)
%!error id=mirrorprod:notSparse mirrorprod ([1; 2; 3], S)
%!error id=mirrorprod:tooLarge mirrorprod (1, sparse (2^31, 1))
%!error id=mirrorprod:notSquare mirrorprod ([1; 2; 3], sparse ([1 0; 2 3; 4 5]))
%!error id=mirrorprod:invalidInput mirrorprod ([1; 2], A)
%!error id=mirrorprod:invalidInput mirrorprod (sparse ([1; 2; 3]), A)
