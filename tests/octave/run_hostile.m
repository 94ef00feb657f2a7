% run_hostile.m: hostile calls through the Octave build, in one process.
%
%   octave-cli -f -q -H run_hostile.m PLUGIN_DIR CALLS_FILE
%
% Each line of CALLS_FILE is "@nargout=N NAME(ARG, ...)" (written by
% fuzz_gateways --export). Every call must either return or raise an error;
% a crash ends Octave, and then the closing line is never printed.
1;

function [ok, id] = run_call (name, argtext, nargs_out)
  id = "";
  try
    % Some arrays the bundled host models have no Octave form (complex
    % integers): such calls are counted apart and not made.
    args = eval (["{" argtext "}"]);
  catch
    ok = false;
    id = "(arguments not expressible in Octave)";
    return;
  end_try_catch
  try
    if (nargs_out == 0)
      feval (name, args{:});
    else
      outputs = cell (1, nargs_out);
      [outputs{:}] = feval (name, args{:});
    endif
    ok = true;
  catch err
    ok = false;
    id = err.identifier;
    if (isempty (id))
      id = err.message;
    endif
  end_try_catch
endfunction

warning ("off", "all");  % conversions of hostile values warn; only errors count
args = argv ();
addpath (args{1});
lines = strsplit (fileread (args{2}), "\n");
returned = 0;
outcomes = containers.Map ();
for n = 1:numel (lines)
  text = strtrim (lines{n});
  if (isempty (text))
    continue;
  endif
  [tag, text] = strtok (text);
  nargs_out = str2double (tag(10:end));
  text = strtrim (text);
  open = find (text == '(', 1);
  name = text(1:open-1);
  [ok, id] = run_call (name, text(open+1:end-1), nargs_out);
  if (ok)
    returned++;
  else
    key = [name ": " id];
    if (isKey (outcomes, key))
      outcomes(key) += 1;
    else
      outcomes(key) = 1;
    endif
  endif
endfor
printf ("%d calls returned\n", returned);
keys = outcomes.keys ();
for k = 1:numel (keys)
  printf ("%6d  error %s\n", outcomes(keys{k}), keys{k});
endfor
printf ("octave is still alive after %d hostile calls\n", returned + sum (cell2mat (outcomes.values ())));
