% run_examples.m: runs the example scripts against the Octave build, each in
% a workspace of its own, in one Octave process.
%
%   octave-cli -f -q -H run_examples.m PLUGIN_DIR EXAMPLE.m ...
%
% An example fails when it raises an error: each one checks what it
% computed against the plain Octave expression and calls error() on a
% mismatch. Exits non-zero when any example fails.
1;

function run_example (file)
  run (file);
endfunction

args = argv ();
addpath (make_absolute_filename (args{1}));
files = cellfun (@make_absolute_filename, args(2:end), "UniformOutput", false);
failed = 0;
for k = 1:numel (files)
  [~, name] = fileparts (files{k});
  printf ("--- %s\n", name);
  try
    run_example (files{k});
  catch err
    failed++;
    printf ("FAILED %s: %s\n", name, err.message);
    for s = 1:numel (err.stack)
      printf ("  at %s line %d\n", err.stack(s).name, err.stack(s).line);
    endfor
  end_try_catch
endfor
printf ("examples: %d passed, %d failed\n", numel (files) - failed, failed);
exit (failed > 0);
