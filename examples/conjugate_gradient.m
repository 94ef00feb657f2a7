% conjugate_gradient.m: solve a Poisson problem with mirrorprod.
%
% The 5-point Laplacian on an n-by-n grid is symmetric, so only its lower
% triangle needs to be stored: mirrorprod(x, A) returns S*x for the
% symmetric S whose lower triangle is A. Conjugate gradients need nothing
% else from the matrix.
%
% Needs the toolbox's functions on the path (see README.md).

n = 30;                         % grid points per side
N = n * n;                      % unknowns, numbered down the columns
node = reshape(1:N, n, n);

% Lower triangle only: the diagonal, the neighbour below (same grid
% column) and the neighbour to the right (next grid column, stored below
% the diagonal at row node + n).
below = node(1:n-1, :);
right = node(:, 1:n-1);
i = [(1:N)'; below(:) + 1; right(:) + n];
j = [(1:N)'; below(:); right(:)];
v = [4 * ones(N, 1); -ones(numel(below), 1); -ones(numel(right), 1)];
A = sparse(i, j, v, N, N);
fprintf('lower triangle: %d-by-%d with %d stored entries\n', N, N, nnz(A));

S = A + A' - diag(diag(A));     % the whole matrix, for the checks only

% mirrorprod against the product with the whole matrix (integer values,
% so both are exact).
probe = mod((1:N)', 7) - 3;
if ~isequal(mirrorprod(probe, A), S * probe)
  error('conjugate_gradient: mirrorprod(x, A) differs from S*x');
end

b = ones(N, 1) / (n + 1)^2;     % a uniform load
x = zeros(N, 1);
r = b;
p = r;
rr = r' * r;
steps = 0;
while sqrt(rr) > 1e-12 * norm(b) && steps < N
  q = mirrorprod(p, A);
  alpha = rr / (p' * q);
  x = x + alpha * p;
  r = r - alpha * q;
  rrNext = r' * r;
  p = r + (rrNext / rr) * p;
  rr = rrNext;
  steps = steps + 1;
end
fprintf('conjugate gradients: %d steps, residual %.3g, centre value %.6f\n', ...
        steps, norm(b - S * x) / norm(b), x(node(n / 2, n / 2)));

direct = S \ b;
difference = norm(x - direct) / norm(direct);
fprintf('relative difference from S\\b: %.3g\n', difference);
if difference > 1e-9
  error('conjugate_gradient: the solution differs from S\\b by %g', difference);
end
fprintf('conjugate_gradient: agrees with the direct solve\n');
