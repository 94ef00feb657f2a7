% run_cases.m: runs case files against the Octave build of the plug-ins.
%
%   octave-cli -f -q -H run_cases.m PLUGIN_DIR FILE.cases ...
%
% Each case line is "CALL -> OUTPUTS" or "CALL -> error(ID, MESSAGE)"; the
% literals are MATLAB expressions and are evaluated as they stand. Results
% must match exactly: class, size, sparsity, complexity and every bit (NaN
% equals NaN). Octave puts "NAME: " before the message of an error raised
% inside a MEX file; the comparison accepts that prefix.
1;

function parts = split_top_level (text, sep)
  parts = {};
  depth = 0;
  quoted = false;
  start = 1;
  for i = 1:numel (text)
    c = text(i);
    if (quoted)
      if (c == "'")
        quoted = false;
      endif
    elseif (c == "'")
      prev = strtrim (text(start:i-1));
      is_transpose = ! isempty (prev) && i > 1 && text(i-1) != ' ' ...
                     && (isstrprop (prev(end), "alphanum") || any (prev(end) == ")]'."));
      quoted = ! is_transpose;
    elseif (any (c == "(["))
      depth++;
    elseif (any (c == ")]"))
      depth--;
    elseif (c == sep && depth == 0)
      parts{end+1} = strtrim (text(start:i-1));
      start = i + 1;
    endif
  endfor
  parts{end+1} = strtrim (text(start:end));
endfunction

function pos = find_arrow (text)
  pos = 0;
  quoted = false;
  for i = 1:numel (text) - 1
    c = text(i);
    if (c == "'")
      prev = ' ';
      if (i > 1)
        prev = text(i-1);
      endif
      is_transpose = ! quoted && (isstrprop (prev, "alphanum") || any (prev == ")]'"));
      if (! is_transpose)
        quoted = ! quoted;
      endif
    elseif (! quoted && c == '-' && text(i+1) == '>')
      pos = i;
      return;
    endif
  endfor
endfunction

function [same, why] = same_array (expected, actual)
  same = false;
  why = "";
  if (! strcmp (class (expected), class (actual)))
    why = sprintf ("class differs: expected %s, got %s", class (expected), class (actual));
  elseif (! isequal (size (expected), size (actual)))
    why = sprintf ("size differs: expected %s, got %s", mat2str (size (expected)), ...
                   mat2str (size (actual)));
  elseif (issparse (expected) != issparse (actual))
    why = "sparsity differs";
  elseif (isreal (expected) != isreal (actual))
    why = "complexity differs";
  elseif (issparse (expected))
    [ie, je, ve] = find (expected);
    [ia, ja, va] = find (actual);
    if (! isequal (ie, ia) || ! isequal (je, ja))
      why = "sparse pattern differs";
    elseif (! same_bits (ve, va))
      why = "stored values differ";
    else
      same = true;
    endif
  elseif (! same_bits (expected(:), actual(:)))
    why = sprintf ("values differ: expected %s, got %s", mat2str (expected), mat2str (actual));
  else
    same = true;
  endif
endfunction

function same = same_bits (a, b)
  if (! isreal (a))
    same = same_bits (real (a), real (b)) && same_bits (imag (a), imag (b));
    return;
  endif
  if (isfloat (a))
    na = isnan (a);
    nb = isnan (b);
    if (! isequal (na, nb))
      same = false;
      return;
    endif
    a = a(! na);
    b = b(! nb);
    if (isa (a, "double"))
      same = isequal (typecast (a(:), "uint64"), typecast (b(:), "uint64"));
    else
      same = isequal (typecast (a(:), "uint32"), typecast (b(:), "uint32"));
    endif
  else
    same = isequal (a, b);
  endif
endfunction

function [status, detail] = run_case (name, argtext, nargs_out, expect_error, expected)
  detail = "";
  args = eval (["{" argtext "}"]);
  status = "passed";
  try
    if (nargs_out == 0)
      clear ans;
      feval (name, args{:});
      if (isempty (expected))
        if (exist ("ans", "var"))
          status = "failed";
          detail = "a value was returned with nargout 0";
        endif
        return;
      endif
      outputs = {ans};
    else
      outputs = cell (1, nargs_out);
      [outputs{:}] = feval (name, args{:});
    endif
  catch err
    if (! expect_error)
      status = "failed";
      detail = sprintf ("unexpected error (%s) %s", err.identifier, err.message);
      return;
    endif
    want_id = expected{1};
    want_msg = expected{2};
    if (! strcmp (err.identifier, want_id) ...
        || ! (strcmp (err.message, want_msg) || strcmp (err.message, [name ": " want_msg])))
      status = "failed";
      detail = sprintf ("error differs\n  expected: (%s) %s\n  actual:   (%s) %s", ...
                        want_id, want_msg, err.identifier, err.message);
    endif
    return;
  end_try_catch
  if (expect_error)
    status = "failed";
    detail = "expected an error, got outputs";
    return;
  endif
  for k = 1:numel (expected)
    [same, why] = same_array (expected{k}, outputs{k});
    if (! same)
      status = "failed";
      detail = sprintf ("output %d: %s", k, why);
      return;
    endif
  endfor
endfunction

function [passed, failed, skipped] = run_file (file)
  passed = 0;
  failed = 0;
  skipped = 0;
  lines = strsplit (fileread (file), "\n");
  pending = "";
  start_line = 0;
  for n = 1:numel (lines)
    text = strtrim (lines{n});
    if (isempty (pending) && (isempty (text) || text(1) == '#' || text(1) == '%'))
      continue;
    endif
    if (isempty (pending))
      start_line = n;
    endif
    if (numel (text) >= 3 && strcmp (text(end-2:end), "..."))
      pending = [pending text(1:end-3) " "];
      continue;
    endif
    text = [pending text];
    whole = text;
    pending = "";
    hosts = {};
    nargs_out = -1;
    while (! isempty (text) && text(1) == '@')
      [tag, text] = strtok (text);
      text = strtrim (text);
      if (strncmp (tag, "@nargout=", 9))
        nargs_out = str2double (tag(10:end));
      else
        hosts{end+1} = tag(2:end);
      endif
    endwhile
    if (! isempty (hosts) && ! any (strcmp (hosts, "octave")))
      skipped++;
      continue;
    endif
    arrow = find_arrow (text);
    left = strtrim (text(1:arrow-1));
    right = strtrim (text(arrow+2:end));
    open = find (left == '(', 1);
    if (isempty (open))
      name = left;
      argtext = "";
    else
      name = strtrim (left(1:open-1));
      argtext = left(open+1:end-1);
    endif
    expect_error = strncmp (right, "error(", 6);
    try
      if (expect_error)
        expected = eval (["{" right(7:end-1) "}"]);
        if (nargs_out < 0)
          nargs_out = 1;
        endif
      elseif (isempty (right))
        expected = {};
        nargs_out = 0;
      else
        expected = eval (["{" right "}"]);
        if (nargs_out < 0)
          nargs_out = numel (expected);
        endif
      endif
      [status, detail] = run_case (name, argtext, nargs_out, expect_error, expected);
    catch err
      status = "failed";
      detail = ["cannot run the case: " err.message];
    end_try_catch
    if (strcmp (status, "passed"))
      passed++;
    else
      failed++;
      printf ("%s:%d: FAILED %s\n  %s\n", file, start_line, whole, detail);
    endif
  endfor
endfunction

args = argv ();  % the arguments after the script's name
plugin_dir = args{1};
files = args(2:end);
addpath (plugin_dir);
total = [0 0 0];
for f = 1:numel (files)
  [p, q, s] = run_file (files{f});
  total += [p q s];
endfor
printf ("octave: %d passed, %d failed", total(1), total(2));
if (total(3) > 0)
  printf (" (%d skipped: they run only in another host)", total(3));
endif
printf ("\n");
exit (total(2) > 0);
