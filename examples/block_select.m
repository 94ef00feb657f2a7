% block_select.m: select and combine blocks of a matrix with the flank
% products.
%
% A 0/1 matrix is passed as a position list: the row and column of each
% one, then its size, in the last column. find builds it:
%   [i, j] = find(S);  P = [[i(:)'; j(:)'], [size(S, 1); size(S, 2)]];
%
% Needs the toolbox's functions on the path (see README.md).

X = magic(6);

% Rows 2, 4, 5 and columns 1, 3 of X: L*X*R with selection matrices.
L = sparse(1:3, [2 4 5], 1, 3, 6);
R = sparse([1 3], 1:2, 1, 6, 2);
[i, j] = find(L);
PL = [[i(:)'; j(:)'], [size(L, 1); size(L, 2)]];
[i, j] = find(R);
PR = [[i(:)'; j(:)'], [size(R, 1); size(R, 2)]];
block = flankprod(PL, X, PR);
disp('flankprod: rows 2, 4, 5 and columns 1, 3 of magic(6):');
disp(block);
if ~isequal(block, full(L * X * R)) || ~isequal(block, X([2 4 5], [1 3]))
  error('block_select: flankprod differs from L*X*R');
end

% Sums of row pairs (1+2, 3+4, 5+6), columns kept: two ones per row of L,
% an empty list for the identity on the right.
pairSum = kron(speye(3), [1 1]);
[i, j] = find(pairSum);
sums = flankprod([[i(:)'; j(:)'], [3; 6]], X, []);
disp('flankprod: sums of row pairs:');
disp(sums);
if ~isequal(sums, full(pairSum * X))
  error('block_select: flankprod of row-pair sums differs from L*X');
end

% The lower triangle of the block X(u, v), and only there: flankmask
% touches one element per position of the pattern.
u = [6; 1; 3];
v = [2 5 4];
pattern = tril(ones(3));
[i, j] = find(pattern);
P = [[i(:)'; j(:)'], [3; 3]];
masked = flankmask(u, X, v, P);
disp('flankmask: lower triangle of X([6 1 3], [2 5 4]):');
disp(masked);
if ~isequal(masked, pattern .* X(u, v))
  error('block_select: flankmask differs from pattern .* X(u, v)');
end

% Weighted: flankscale multiplies by W at the positions, flankinner sums.
W = [1 0 0; 2 3 0; 4 5 6];
scaled = flankscale(u, X, v, P, W);
total = flankinner(u, X, v, P, W);
fprintf('flankscale/flankinner: weighted sum %g\n', total);
if ~isequal(scaled, pattern .* X(u, v) .* W) || total ~= sum(sum(pattern .* X(u, v) .* W))
  error('block_select: flankscale or flankinner differs from the plain expression');
end
fprintf('block_select: every product matches its plain expression\n');
