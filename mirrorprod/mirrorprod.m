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
