function check_installed (root, version, names)
% check_installed: checks a copy of the toolbox that a user installed, in a
% fresh octave-cli in which nothing else of ours is on the path.
%
%   octave-cli -f -q -H --eval "addpath(COPY); addpath(THIS_FOLDER);
%                               check_installed(ROOT, VERSION, {NAME...})"
%
% (or "pkg load mextoolbox" instead of addpath(COPY)). Every function NAME
% and the toolbox files must come from below ROOT, mextoolbox_version must
% return VERSION, every help text must be there and "help mextoolbox" must
% list every function. Then the self-test runs the case files shipped with
% the copy; any failure is an error, so octave-cli exits non-zero.
  for name = [names, {"mextoolbox_test", "mextoolbox_version", "mextoolbox"}]
    where = which (name{1});
    check (strncmp (where, root, numel (root)), "%s comes from '%s', not from below %s", ...
           name{1}, where, root);
  endfor
  check (strcmp (mextoolbox_version (), version), "mextoolbox_version returns '%s', expected '%s'", ...
         mextoolbox_version (), version);
  listing = evalc ("help mextoolbox");
  for name = names
    text = get_help_text (name{1});
    check (numel (text) > 100 && ! isempty (strfind (text, upper (name{1}))), ...
           "help %s shows no help text", name{1});
    check (! isempty (regexp (listing, ["\\n%?\\s*" name{1} "\\s+- "], "once")), ...
           "help mextoolbox does not list %s", name{1});
  endfor
  check (! isempty (strfind (listing, ["Version " version])), ...
         "help mextoolbox does not show the version");
  printf ("%s: version %s, %d functions with help\n", root, version, numel (names));
  mextoolbox_test ();
endfunction

function check (condition, varargin)
  if (! condition)
    error ("check_installed: %s", sprintf (varargin{:}));
  endif
endfunction
