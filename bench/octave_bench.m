% octave_bench.m: the Octave build of the plug-ins against Octave's own
% expressions for the same results, on the same data, in one process.
%
%   octave-cli -f -q -H bench/octave_bench.m PLUGIN_DIR [REPETITIONS]
%
% Prints one line per measurement:
%   RESULT|plug-in|shape|our seconds|anchor expression|anchor seconds|items
% with the median over the repetitions (after warm-up calls).
1;

function t = median_time (f, reps)
  % Calls made before timing. The first calls after a new output size pay
  % for the C library's allocator settling (fresh pages from the kernel, at
  % several microseconds per page on virtual machines); with one warm-up
  % call that cost reached the median of some rows, on either side.
  warmup_calls = 3;
  for k = 1:warmup_calls
    f ();  % loads the plug-in, touches the data, settles the allocator
  endfor
  times = zeros (1, reps);
  for k = 1:reps
    tic;
    f ();
    times(k) = toc;
  endfor
  t = median (times);
endfunction

function report (plugin, shape, ours, anchor_name, anchor, items)
  printf ("RESULT|%s|%s|%.9g|%s|%.9g|%.17g\n", plugin, shape, ours, anchor_name, anchor, items);
  fflush (stdout);
endfunction

% Lower triangle of a symmetric n-by-n matrix: the diagonal, then five
% sub-diagonals (banded, plus every other column's seventh) or the same
% counts at random rows below the diagonal (scattered).
function L = lower_triangle (n, banded)
  rand ("seed", 2026);
  j = (1:n)';
  cols = {j};
  rows = {j};
  for off = 1:5
    c = (1:n-off)';
    cols{end+1} = c;
    if (banded)
      rows{end+1} = c + off;
    else
      rows{end+1} = c + 1 + floor (rand (n-off, 1) .* (n - c));
    endif
  endfor
  c = (1:2:n-7)';
  cols{end+1} = c;
  if (banded)
    rows{end+1} = c + 7;
  else
    rows{end+1} = c + 1 + floor (rand (numel (c), 1) .* (n - c));
  endif
  i = vertcat (rows{:});
  jj = vertcat (cols{:});
  L = sparse (i, jj, 0.5 + rand (numel (i), 1), n, n);
endfunction

args = argv ();
addpath (args{1});
reps = 5;
if (numel (args) >= 2)
  reps = str2double (args{2});
endif

% --- mirrorprod: lower triangle against the full symmetric product --------
n = 2e6;
for banded = [true false]
  L = lower_triangle (n, banded);
  S = L + L' - diag (diag (L));
  x = rand (n, 1);
  shape = "scattered n=2e6";
  if (banded)
    shape = "banded n=2e6";
  endif
  ours = median_time (@() mirrorprod (x, L), reps);
  anchor = median_time (@() S * x, reps);
  report ("mirrorprod", shape, ours, "S*x (full symmetric sparse)", anchor, nnz (L));
  clear L S x;
endfor

% --- lutpaint: against ind2rgb and a conversion to uint8 -------------------
side = 4096;
rand ("seed", 11);
shapes = {"uint8", 256; "uint16", 4096; "double", 4096};
for s = 1:rows (shapes)
  cls = shapes{s, 1};
  P = shapes{s, 2};
  map = rand (P, 3);
  if (strcmp (cls, "double"))
    X = floor (1 + rand (side) * P);
  else
    X = cast (floor (rand (side) * P), cls);
  endif
  ours = median_time (@() lutpaint (X, map), reps);
  anchor = median_time (@() uint8 (255 * ind2rgb (X, map)), max (1, min (reps, 3)));
  report ("lutpaint", sprintf ("%s %dx%d", cls, side, side), ours, ...
          "uint8(255*ind2rgb(X, map))", anchor, 3 * side * side);
  clear X;
endfor

% --- flank products: against sparse 0/1 matrices built from the lists ------
rand ("seed", 5);
M = 2000;
N = 2000;
X = rand (M, N);
% L and R select: one 1 in each row of L and in each column of R.
mL = 1500;
nR = 1500;
li = 1:mL;
lj = 1 + floor (rand (1, mL) * M);
ri = 1 + floor (rand (1, nR) * N);
rj = 1:nR;
Llist = [[li; lj], [mL; M]];
Rlist = [[ri; rj], [N; nR]];
Ls = sparse (li, lj, 1, mL, M);
Rs = sparse (ri, rj, 1, N, nR);
ours = median_time (@() flankprod (Llist, X, Rlist), reps);
anchor = median_time (@() Ls * X * Rs, reps);
report ("flankprod", "select 1500x2000 * 2000x2000 * 2000x1500", ours, "L*X*R (sparse L, R)", anchor, mL * nR);
% Identity on the left, selection on the right.
ours = median_time (@() flankprod ([], X, Rlist), reps);
anchor = median_time (@() X * Rs, reps);
report ("flankprod", "identity * 2000x2000 * select 2000x1500", ours, "X*R (sparse R)", anchor, M * nR);
% General lists: 4000 ones in each of a 1000-by-2000 L and a 2000-by-1000 R.
k = 4000;
li = 1 + floor (rand (1, k) * 1000);
lj = 1 + floor (rand (1, k) * M);
ri = 1 + floor (rand (1, k) * N);
rj = 1 + floor (rand (1, k) * 1000);
Llist = [[li; lj], [1000; M]];
Rlist = [[ri; rj], [N; 1000]];
Ls = sparse (li, lj, 1, 1000, M);
Rs = sparse (ri, rj, 1, N, 1000);
ours = median_time (@() flankprod (Llist, X, Rlist), reps);
anchor = median_time (@() Ls * X * Rs, reps);
report ("flankprod", "4000 ones in L and in R", ours, "L*X*R (sparse L, R)", anchor, k * k);

% Masked gathers: 1e6 pattern positions of a 3000-by-3000 result.
X = rand (4000, 4000);
m = 3000;
u = 1 + floor (rand (m, 1) * 4000);
v = 1 + floor (rand (1, m) * 4000);
W = rand (m, m);
pos = randperm (m * m, 1e6);
[pr, pc] = ind2sub ([m m], sort (pos));
P = [[pr; pc], [m; m]];
Ps = sparse (pr, pc, 1, m, m);
ours = median_time (@() flankmask (u, X, v, P), reps);
anchor = median_time (@() full (Ps .* X(u, v)), reps);
report ("flankmask", "1e6 positions of 3000x3000", ours, "full(S .* X(u, v))", anchor, 1e6);
ours = median_time (@() flankscale (u, X, v, P, W), reps);
anchor = median_time (@() full (Ps .* X(u, v) .* W), reps);
report ("flankscale", "1e6 positions of 3000x3000", ours, "full(S .* X(u, v) .* W)", anchor, 1e6);
ours = median_time (@() flankinner (u, X, v, P, W), reps);
anchor = median_time (@() full (sum (sum (Ps .* X(u, v) .* W))), reps);
report ("flankinner", "1e6 positions of 3000x3000", ours, "sum(sum(S .* X(u, v) .* W))", anchor, 1e6);
% Selectors that pick every row and column in order, over a sparse pattern.
ours = median_time (@() flankmask ((1:m)', X, 1:m, P), reps);
anchor = median_time (@() full (Ps .* X(1:m, 1:m)), reps);
report ("flankmask", "1e6 positions, identity selectors", ours, "full(S .* X(1:m, 1:m))", anchor, 1e6);
% The same positions listed in random order (a pattern assembled from a list
% of observed entries rather than from find): the plug-ins take the pattern
% as listed, the anchor's sparse matrix is the same.
Pr = [P(:, randperm (1e6)), P(:, end)];
ours = median_time (@() flankmask (u, X, v, Pr), reps);
anchor = median_time (@() full (Ps .* X(u, v)), reps);
report ("flankmask", "1e6 positions in random order", ours, "full(S .* X(u, v))", anchor, 1e6);
ours = median_time (@() flankinner (u, X, v, Pr, W), reps);
anchor = median_time (@() full (sum (sum (Ps .* X(u, v) .* W))), reps);
report ("flankinner", "1e6 positions in random order", ours, "sum(sum(S .* X(u, v) .* W))", anchor, 1e6);
clear X W Ps P Pr;

% --- nullfill / unitfill: the cost of one call over zeros/ones --------------
calls = 20000;
f = @() nullfill (100, 100);
g = @() zeros (100, 100);
ours = median_time (@() arrayfun (@(k) f (), 1:calls, "UniformOutput", false), reps) / calls;
anchor = median_time (@() arrayfun (@(k) g (), 1:calls, "UniformOutput", false), reps) / calls;
report ("nullfill", "100x100", ours, "zeros(100, 100)", anchor, 1);
f = @() unitfill (100, 100);
g = @() ones (100, 100);
ours = median_time (@() arrayfun (@(k) f (), 1:calls, "UniformOutput", false), reps) / calls;
anchor = median_time (@() arrayfun (@(k) g (), 1:calls, "UniformOutput", false), reps) / calls;
report ("unitfill", "100x100", ours, "ones(100, 100)", anchor, 1);
