function pairsolve_sizes (manifest, results)
% pairsolve_sizes: times pairsolve, as the installed package runs it, on
% the matrices listed in MANIFEST, and writes RESULTS (called by
% bench/pairsolve_sizes.py once per cell, which then times scipy on the
% same files, so both see about the same load).
%
% Each line of MANIFEST is "FILE M N CALLS": FILE holds the M-by-N matrix
% as column-major doubles. pairsolve solves it once to warm up, then CALLS
% times in a loop, three times over; the line of RESULTS is "FILE SECONDS
% COST", SECONDS the median of the three loops divided by CALLS (the time
% of one call, Octave's call included) and COST the cost it returned (%.17g).
% The first lines of RESULTS time a trivial MEX call, unitfill(1), and
% pairsolve(1) the same way ("unitfill" and "pairsolve1" in place of FILE).
  out = fopen (results, "w");
  % The loops call the functions directly: a function handle would add its
  % own cost to every call.
  times = zeros (1, 3);
  for t = 1:3
    start = tic ();
    for i = 1:kTrivialCalls ()
      unitfill (1);
    end
    times(t) = toc (start) / kTrivialCalls ();
  end
  fprintf (out, "unitfill %.6e 0\n", median (times));
  for t = 1:3
    start = tic ();
    for i = 1:kTrivialCalls ()
      pairsolve (1);
    end
    times(t) = toc (start) / kTrivialCalls ();
  end
  fprintf (out, "pairsolve1 %.6e 1\n", median (times));
  lines = strsplit (fileread (manifest), "\n");
  for k = 1:numel (lines)
    fields = strsplit (strtrim (lines{k}));
    if (numel (fields) != 4)
      continue;
    end
    [file, M, N, calls] = deal (fields{1}, str2double (fields{2}), str2double (fields{3}), ...
                                str2double (fields{4}));
    fid = fopen (file, "r");
    C = reshape (fread (fid, M * N, "double"), M, N);
    fclose (fid);
    [~, cost] = pairsolve (C);
    for t = 1:3
      start = tic ();
      for i = 1:calls
        pairsolve (C);
      end
      times(t) = toc (start) / calls;
    end
    fprintf (out, "%s %.6e %.17g\n", file, median (times), cost);
    fflush (out);
  end
  fclose (out);
end

function n = kTrivialCalls ()
% Calls per loop of the trivial calls.
  n = 20000;
end
