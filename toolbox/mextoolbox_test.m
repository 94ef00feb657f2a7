function [passed, failed, skipped] = mextoolbox_test(target)
%MEXTOOLBOX_TEST Run the toolbox's case files through the functions on the path.
%   MEXTOOLBOX_TEST runs every case file in the folder "cases" beside this
%   file and prints "N passed, 0 failed". Each line of a case file is one
%   call with its exact expected outputs (or its error identifier and
%   message); results must match in class, size, sparsity, complexity and
%   every bit (NaN equals NaN, -0 differs from 0). A line whose expectation
%   is same(REF) expects what this host's own function REF returns (or the
%   error it raises) for the same arguments: nullfill and unitfill hand
%   their arguments to zeros and ones, whose answers differ between hosts
%   and versions. Lines meant for another host (tagged @bundled or
%   @windows) are skipped and counted.
%
%   MEXTOOLBOX_TEST(FOLDER) runs the case files in FOLDER instead;
%   MEXTOOLBOX_TEST({FILE1, FILE2, ...}) runs the files named.
%
%   [PASSED, FAILED, SKIPPED] = MEXTOOLBOX_TEST(...) returns the counts.
%   Called without outputs, it raises the error mextoolbox_test:failed when
%   any case fails, so a script (octave-cli --eval mextoolbox_test, or
%   matlab -batch mextoolbox_test) ends with a non-zero status.
%
%   The plug-ins it calls are the ones first on the path: after installing
%   the toolbox, this checks that installed copy.
%
%   Example:
%     mextoolbox_test
%
%   See also MEXTOOLBOX_VERSION.

if nargin < 1
  target = fullfile(fileparts(mfilename('fullpath')), 'cases');
end
files = case_files(target);
host = 'matlab';
if exist('OCTAVE_VERSION', 'builtin') ~= 0
  host = 'octave';
end

passed = 0;
failed = 0;
skipped = 0;
for f = 1:numel(files)
  [p, q, s] = run_file(files{f}, host);
  passed = passed + p;
  failed = failed + q;
  skipped = skipped + s;
end
fprintf('%d passed, %d failed', passed, failed);
if skipped > 0
  fprintf(' (%d skipped: they run only in another host)', skipped);
end
fprintf('\n');
if nargout == 0
  if failed > 0
    error('mextoolbox_test:failed', ...
          '%d of %d cases failed (listed above); check which plug-ins are first on the path with which(NAME)', ...
          failed, passed + failed);
  end
  clear passed;
end
end

function files = case_files(target)
% The case files named by TARGET: a folder, one file, or a cell array of files.
if iscell(target)
  files = target;
elseif ~ischar(target)
  error('mextoolbox_test:invalidInput', ...
        ['the argument must be a folder name or a cell array of case file names; got a %s. ' ...
         'Call mextoolbox_test without arguments to run the shipped case files'], class(target));
elseif exist(target, 'dir')
  listing = dir(fullfile(target, '*.cases'));
  names = sort({listing.name});
  files = cell(1, numel(names));
  for k = 1:numel(names)
    files{k} = fullfile(target, names{k});
  end
else
  files = {target};
end
if isempty(files)
  error('mextoolbox_test:noCases', ...
        'no case files (*.cases) in ''%s''; pass the folder that holds them (the shipped ones are in cases/ beside mextoolbox_test.m)', ...
        target);
end
for k = 1:numel(files)
  if ~exist(files{k}, 'file')
    error('mextoolbox_test:noCases', ...
          'case file ''%s'' does not exist; pass an existing file or folder', files{k});
  end
end
end

function [passed, failed, skipped] = run_file(file, host)
% Runs every case of one file; prints each failure with its line number.
passed = 0;
failed = 0;
skipped = 0;
lines = strsplit(fileread(file), sprintf('\n'));
pending = '';
start_line = 0;
for n = 1:numel(lines)
  text = strtrim(lines{n});
  if isempty(pending) && (isempty(text) || text(1) == '#' || text(1) == '%')
    continue;
  end
  if isempty(pending)
    start_line = n;
  end
  if numel(text) >= 3 && strcmp(text(end-2:end), '...')
    pending = [pending text(1:end-3) ' '];
    continue;
  end
  text = [pending text];
  whole = text;
  pending = '';
  hosts = {};
  nargs_out = -1;
  while ~isempty(text) && text(1) == '@'
    [tag, text] = strtok(text);
    text = strtrim(text);
    if strncmp(tag, '@nargout=', 9)
      nargs_out = str2double(tag(10:end));
    else
      hosts{end+1} = tag(2:end); %#ok<AGROW>
    end
  end
  if ~isempty(hosts) && ~any(strcmp(hosts, host))
    skipped = skipped + 1;
    continue;
  end
  try
    [status, detail] = run_line(text, nargs_out);
  catch err
    status = 'failed';
    detail = ['cannot run the case: ' err.message];
  end
  if strcmp(status, 'passed')
    passed = passed + 1;
  else
    failed = failed + 1;
    fprintf('%s:%d: FAILED %s\n  %s\n', file, start_line, whole, detail);
  end
end
end

function [status, detail] = run_line(text, nargs_out)
% Splits "CALL -> OUTPUTS" and runs the call.
arrow = find_arrow(text);
if arrow == 0
  error('mextoolbox_test:badCase', 'no "->" in the line');
end
left = strtrim(text(1:arrow-1));
right = strtrim(text(arrow+2:end));
open = find(left == '(', 1);
if isempty(open)
  name = left;
  argtext = '';
else
  name = strtrim(left(1:open-1));
  argtext = left(open+1:end-1);
end
args = eval(['{' argtext '}']);
if strncmp(right, 'same(', 5) && right(end) == ')'
  if nargs_out < 0
    nargs_out = 1;
  end
  [expect_error, expected] = reference_result(strtrim(right(6:end-1)), args, nargs_out);
  [status, detail] = run_case(name, args, nargs_out, expect_error, expected);
  return;
end
expect_error = strncmp(right, 'error(', 6);
if expect_error
  expected = eval(['{' right(7:end-1) '}']);
  if nargs_out < 0
    nargs_out = 1;
  end
elseif isempty(right)
  expected = {};
  nargs_out = 0;
else
  expected = eval(['{' right '}']);
  if nargs_out < 0
    nargs_out = numel(expected);
  end
end
[status, detail] = run_case(name, args, nargs_out, expect_error, expected);
end

function [expect_error, expected] = reference_result(reference, args, nargs_out)
% What same(REFERENCE) expects: REFERENCE(ARGS{:}) with one output, once per
% output, or the identifier and message of the error it raises.
if ~isvarname(reference)
  error('mextoolbox_test:badCase', 'same(REF) takes the name of a function, not "%s"', reference);
end
try
  value = feval(reference, args{:});
catch err
  expect_error = true;
  expected = {err.identifier, err.message};
  return;
end
expect_error = false;
expected = repmat({value}, 1, nargs_out);
end

function pos = find_arrow(text)
% Position of the first "->" outside quotes, 0 when there is none.
pos = 0;
quoted = false;
for i = 1:numel(text) - 1
  c = text(i);
  if c == ''''
    prev = ' ';
    if i > 1
      prev = text(i-1);
    end
    is_transpose = ~quoted && (isstrprop(prev, 'alphanum') || any(prev == ')]'''));
    if ~is_transpose
      quoted = ~quoted;
    end
  elseif ~quoted && c == '-' && text(i+1) == '>'
    pos = i;
    return;
  end
end
end

function [status, detail] = run_case(name, args, nargs_out, expect_error, expected)
% Calls NAME on the evaluated arguments and compares with EXPECTED.
detail = '';
status = 'passed';
try
  if nargs_out == 0
    [returned, value] = call_without_outputs(name, args);
    if isempty(expected)
      if returned
        status = 'failed';
        detail = 'a value was returned with nargout 0';
      end
      return;
    end
    outputs = {value};
  else
    outputs = cell(1, nargs_out);
    [outputs{:}] = feval(name, args{:});
  end
catch err
  if ~expect_error
    status = 'failed';
    detail = sprintf('unexpected error (%s) %s', err.identifier, err.message);
    return;
  end
  want_id = expected{1};
  want_msg = expected{2};
  % Octave puts "NAME: " before the message of an error raised in a MEX file.
  if ~strcmp(err.identifier, want_id) ...
      || ~(strcmp(err.message, want_msg) || strcmp(err.message, [name ': ' want_msg]))
    status = 'failed';
    detail = sprintf('error differs\n  expected: (%s) %s\n  actual:   (%s) %s', ...
                     want_id, want_msg, err.identifier, err.message);
  end
  return;
end
if expect_error
  status = 'failed';
  detail = 'expected an error, got outputs';
  return;
end
for k = 1:numel(expected)
  [same, why] = same_array(expected{k}, outputs{k});
  if ~same
    status = 'failed';
    detail = sprintf('output %d: %s', k, why);
    return;
  end
end
end

function [returned, value] = call_without_outputs(name, args)
% Calls NAME with nargout 0; a value the call still returns lands in ans.
value = [];
clear ans;
feval(name, args{:});
returned = exist('ans', 'var') == 1;
if returned
  value = ans; %#ok<NOANS>
end
end

function [same, why] = same_array(expected, actual)
% Exact comparison: class, size, sparsity, complexity and every bit.
same = false;
why = '';
if ~strcmp(class(expected), class(actual))
  why = sprintf('class differs: expected %s, got %s', class(expected), class(actual));
elseif ~isequal(size(expected), size(actual))
  why = sprintf('size differs: expected %s, got %s', mat2str(size(expected)), ...
                mat2str(size(actual)));
elseif issparse(expected) ~= issparse(actual)
  why = 'sparsity differs';
elseif isreal(expected) ~= isreal(actual)
  why = 'complexity differs';
elseif issparse(expected)
  [ie, je, ve] = find(expected);
  [ia, ja, va] = find(actual);
  if ~isequal(ie, ia) || ~isequal(je, ja)
    why = 'sparse pattern differs';
  elseif ~same_bits(ve, va)
    why = 'stored values differ';
  else
    same = true;
  end
elseif ~same_bits(expected(:), actual(:))
  why = sprintf('values differ: expected %s, got %s', mat2str(expected), mat2str(actual));
else
  same = true;
end
end

function same = same_bits(a, b)
% True when A and B hold the same bits (NaN equals NaN, -0 differs from 0).
if ~isreal(a)
  same = same_bits(real(a), real(b)) && same_bits(imag(a), imag(b));
  return;
end
if isfloat(a)
  na = isnan(a);
  nb = isnan(b);
  if ~isequal(na, nb)
    same = false;
    return;
  end
  a = a(~na);
  b = b(~nb);
  if isa(a, 'double')
    same = isequal(typecast(a(:), 'uint64'), typecast(b(:), 'uint64'));
  else
    same = isequal(typecast(a(:), 'uint32'), typecast(b(:), 'uint32'));
  end
else
  same = isequal(a, b);
end
end
