% show_calls.m: prints each call of a quick-start list and its result, as
% typed at the Octave prompt.
%
%   octave-cli -f -q -H show_calls.m PLUGIN_DIR CALLS_FILE
%
% Lines starting with % are printed as they stand; every other line is a
% statement, shown after a ">> " prompt and evaluated without a semicolon so
% Octave displays its outputs. Exits non-zero at the first error.
1;

args = argv ();
addpath (args{1});
lines = strsplit (fileread (args{2}), "\n");
for k = 1:numel (lines)
  text = strtrim (lines{k});
  if (isempty (text))
    continue;
  elseif (text(1) == "%")
    printf ("\n%s\n", text);
    continue;
  endif
  printf (">> %s\n", text);
  try
    eval (text);
  catch err
    printf ("error: %s (%s)\n", err.message, err.identifier);
    exit (1);
  end_try_catch
endfor
