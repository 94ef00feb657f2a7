% run_help_tests.m: runs the %!test and %!error blocks of each plug-in's
% help file in the Octave build, in one Octave process.
%
%   octave-cli -f -q -H run_help_tests.m PLUGIN_DIR NAME ...
%
% A plug-in fails when any of its blocks fails or when its help file holds
% no blocks at all. Exits non-zero when any plug-in fails.
1;

args = argv ();
addpath (make_absolute_filename (args{1}));
names = args(2:end);
failed = {};
total = 0;
for k = 1:numel (names)
  [passed, count] = test (names{k}, "quiet", stdout);
  total += count;
  if (count == 0)
    printf ("%s: the help file holds no tests\n", names{k});
    failed{end+1} = names{k};
  elseif (passed < count)
    printf ("%s: %d of %d tests failed\n", names{k}, count - passed, count);
    failed{end+1} = names{k};
  else
    printf ("%s: %d tests passed\n", names{k}, count);
  endif
endfor
printf ("help files: %d plug-ins, %d tests, %d plug-ins failing%s\n", numel (names), total, ...
        numel (failed), sprintf (" %s", failed{:}));
exit (! isempty (failed));
