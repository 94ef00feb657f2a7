function folder = build_mextoolbox(folder)
%BUILD_MEXTOOLBOX Compile the toolbox with this host's own mex command.
%   BUILD_MEXTOOLBOX compiles every plug-in from the sources beside this file
%   with the mex command of the running host (mkoctfile --mex in GNU Octave,
%   mex in MATLAB) into the folder build/mextoolbox-HOST beside this file,
%   copies the help files, Contents.m, mextoolbox_version, the self-test
%   mextoolbox_test and its case files there, and prints the line to add the
%   folder to the path. No CMake is needed.
%
%   BUILD_MEXTOOLBOX(FOLDER) builds into FOLDER instead (created if needed).
%   FOLDER = BUILD_MEXTOOLBOX(...) returns the folder.
%
%   Every plug-in is compiled as in the CMake build: the plug-ins listed in
%   toolbox/plugins.txt (the list the CMake build reads), the same gateway
%   sources and include folders (common/ and the plug-in's own folder), the
%   same defines, its size family (Octave: the API word, read from
%   host/include/mexapiwords.h as the CMake build reads it; MATLAB:
%   -largeArrayDims or -compatibleArrayDims), C++17, -ffp-contract=off so
%   results are the same bit for bit, and an export list of mexFunction
%   (and the API version function; in Octave 10 and later also the marker
%   Octave loads MEX files by) where the linker takes a version script.
%   Warnings are shown, never turned into errors. The MATLAB branch has
%   been compiled against headers that declare what MATLAB's do, with the
%   flags MATLAB's mex uses, but never run: we have no MATLAB.
%
%   Example:
%     build_mextoolbox
%     addpath(fullfile(pwd, 'build', 'mextoolbox-octave'))
%     mextoolbox_test
%
%   See also MEXTOOLBOX_TEST, MEXTOOLBOX_VERSION.

root = fileparts(mfilename('fullpath'));
in_octave = exist('OCTAVE_VERSION', 'builtin') ~= 0;
if in_octave
  host = 'octave';
else
  host = 'matlab';
end
if nargin < 1
  folder = fullfile(root, 'build', ['mextoolbox-' host]);
end
if ~ischar(folder)
  error('build_mextoolbox:invalidInput', ...
        'the output folder must be given as text; got a %s', class(folder));
end
if ~exist(folder, 'dir')
  [made, why] = mkdir(folder);
  if ~made
    error('build_mextoolbox:cannotCreateFolder', ...
          'cannot create the output folder ''%s'': %s; pass a folder you can write to', folder, why);
  end
end
folder = absolute_path(folder);

version = read_version(root);
plugins = plugin_table(root);
words = api_words(root);
for k = 1:size(plugins, 1)
  [name, subsystem, sources, api] = plugins{k, :};
  fprintf('build_mextoolbox: compiling %s\n', name);
  sources = cellfun(@(s) fullfile(root, subsystem, s), sources, 'UniformOutput', false);
  includes = {['-I' fullfile(root, 'common')], ['-I' fullfile(root, subsystem)]};
  if in_octave
    compile_octave(root, folder, name, sources, includes, words, api);
  else
    compile_matlab(folder, name, sources, includes, api);
  end
  copyfile(fullfile(root, subsystem, [name '.m']), folder);
end
write_toolbox_files(root, folder, version, plugins(:, 1));

fprintf('\nbuild_mextoolbox: %d plug-ins of mextoolbox %s in %s\n', size(plugins, 1), version, folder);
fprintf('Put the folder on the path for good and check it:\n');
fprintf('  addpath(''%s''); savepath\n  mextoolbox_test\n', folder);
if nargout == 0
  clear folder;
end
end

function plugins = plugin_table(root)
% Every shipped plug-in, as toolbox/plugins.txt lists them (one a line:
% NAME FOLDER SIZES SOURCE...; # starts a comment): name, folder, gateway
% sources, size family (32 binds the 32-bit size functions, 64 the 64-bit
% ones). The CMake build reads the same file.
file = fullfile(root, 'toolbox', 'plugins.txt');
lines = regexp(fileread(file), '[^\r\n]+', 'match');
plugins = cell(0, 4);
for k = 1:numel(lines)
  line = strtrim(lines{k});
  if isempty(line) || line(1) == '#'
    continue;
  end
  fields = regexp(line, '\s+', 'split');
  if numel(fields) < 4 || ~any(strcmp(fields{3}, {'32', '64'}))
    error('build_mextoolbox:badPluginList', ...
          '%s: cannot read the line ''%s''; expected NAME FOLDER 32|64 SOURCE...', file, line);
  end
  plugins(end+1, :) = {fields{1}, fields{2}, fields(4:end), str2double(fields{3})}; %#ok<AGROW>
end
end

function words = api_words(root)
% The version words the plug-ins report, from the header that defines them
% for the bundled host and the CMake build: words.release, and words.api32
% and words.api64, the target API word of each size family.
file = fullfile(root, 'host', 'include', 'mexapiwords.h');
text = fileread(file);
names = {'RELEASE', 'API32', 'API64'};
for k = 1:numel(names)
  token = regexp(text, ['#define\s+MEXAPI_' names{k} '_WORD\s+(0x[0-9A-Fa-f]+)'], 'tokens', 'once');
  if isempty(token)
    error('build_mextoolbox:noApiWords', '%s does not define MEXAPI_%s_WORD', file, names{k});
  end
  words.(lower(names{k})) = token{1};
end
end

function compile_octave(root, folder, name, sources, includes, words, api)
% mkoctfile --mex with our flags; the compiler flags go through CXXFLAGS.
% Our version function reports words.release and the size family's word.
flags = [strtrim(mkoctfile('-p', 'CXXFLAGS')) ' -ffp-contract=off -fno-fast-math -fvisibility=hidden'];
saved = getenv('CXXFLAGS');
setenv('CXXFLAGS', flags);
restore = onCleanup(@() setenv('CXXFLAGS', saved));
args = [{'--mex', '-DTOOLBOX_HOST_OCTAVE', ['-DMEX_RELEASE_WORD=' words.release], ...
         ['-DMEX_TARGET_API_WORD=' words.(sprintf('api%d', api))]}, includes, ...
        {'-o', fullfile(folder, [name '.mex'])}, sources, ...
        {fullfile(root, 'common', 'cpp_mexapi_version.cpp')}];
if linker_takes_version_script()
  % Octave 10 and later load a MEX file only through the SOVERSION marker
  % that mkoctfile --mex compiles in; their export list keeps it.
  map = 'mexplugin.map';
  if compare_versions(OCTAVE_VERSION(), '10.0.0', '>=')
    map = 'mexplugin-octave.map';
  end
  args{end+1} = ['-Wl,--version-script=' fullfile(root, 'common', map)];
end
[output, status] = mkoctfile(args{:});
if status ~= 0
  error('build_mextoolbox:compileFailed', 'mkoctfile could not build %s:\n%s', name, output);
end
end

function yes = linker_takes_version_script()
% True when the compiler's linker is one that reads GNU version scripts.
persistent answer;
if isempty(answer)
  [status, text] = system([strtrim(mkoctfile('-p', 'CXX')) ' -Wl,--version 2>&1']);
  answer = status == 0 && ~isempty(strfind(text, 'GNU'));
end
yes = answer;
end

function compile_matlab(folder, name, sources, includes, api)
% MATLAB's mex with our flags. mex adds its own API version function and
% export list (mexFunction and that function), which match the size family
% flag given here, so our version function is not compiled in. mex compiles
% C++ as C++11 unless told otherwise; the plug-ins need C++17. Not run: we
% have no MATLAB (tests/matlab/ compiles what this passes, against headers
% that declare what MATLAB's do).
if api == 32
  family = '-compatibleArrayDims';
else
  family = '-largeArrayDims';
end
args = [{family, '-DTOOLBOX_HOST_MATLAB', '-outdir', folder, '-output', name}, includes];
config = mex.getCompilerConfigurations('C++', 'Selected');
if ispc && (isempty(config) || isempty(strfind(lower(config.ShortName), 'mingw')))
  args{end+1} = 'COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise';
else
  args{end+1} = 'CXXFLAGS=$CXXFLAGS -std=c++17 -ffp-contract=off -fno-fast-math';
end
mex(args{:}, sources{:});
end

function write_toolbox_files(root, folder, version, names)
% Contents.m, mextoolbox.m, mextoolbox_version.m, the self-test, its case
% files, README.txt and LICENSE, as the CMake build ships them.
tools = {'mextoolbox_test', 'mextoolbox_version'};
copyfile(fullfile(root, 'toolbox', 'mextoolbox_test.m'), folder);
write_text(fullfile(folder, 'mextoolbox_version.m'), ...
           fill(fileread(fullfile(root, 'toolbox', 'mextoolbox_version.m.in')), version, '', ''));
functions = '';
for k = 1:numel(names)
  functions = [functions contents_line(fullfile(folder, [names{k} '.m']), names{k})]; %#ok<AGROW>
end
toolbox = '';
for k = 1:numel(tools)
  toolbox = [toolbox contents_line(fullfile(folder, [tools{k} '.m']), tools{k})]; %#ok<AGROW>
end
contents = fill(fileread(fullfile(root, 'toolbox', 'Contents.m.in')), version, functions, ...
                strtrim(toolbox));
write_text(fullfile(folder, 'Contents.m'), contents);
template = fileread(fullfile(root, 'toolbox', 'mextoolbox.m.in'));
write_text(fullfile(folder, 'mextoolbox.m'), ...
           strrep(template, '@TOOLBOX_CONTENTS_HELP@', strtrim(contents)));
write_text(fullfile(folder, 'README.txt'), ...
           fill(fileread(fullfile(root, 'toolbox', 'README.txt.in')), version, '', ''));
copyfile(fullfile(root, 'LICENSE'), folder);
cases = fullfile(folder, 'cases');
if ~exist(cases, 'dir')
  mkdir(cases);
end
copyfile(fullfile(root, 'tests', 'cases', '*.cases'), cases);
end

function text = fill(template, version, functions, toolbox)
% The placeholders of the toolbox templates.
text = strrep(template, '@PROJECT_VERSION@', version);
text = strrep(text, '@TOOLBOX_CONTENTS_FUNCTIONS@', functions);
text = strrep(text, '@TOOLBOX_CONTENTS_TOOLS@', toolbox);
end

function line = contents_line(file, name)
% "%   NAME - summary" from the first line of a help file ("%NAME Summary.").
first = regexp(fileread(file), '^%[^\n]*', 'match', 'once', 'lineanchors');
summary = strtrim(regexprep(first, '^%[A-Za-z0-9_]+\s+', ''));
line = sprintf('%%   %s%s- %s\n', name, blanks(max(1, 19 - numel(name))), summary);
end

function write_text(file, text)
fid = fopen(file, 'w');
if fid < 0
  error('build_mextoolbox:cannotWrite', 'cannot write ''%s''; check the folder''s permissions', file);
end
fprintf(fid, '%s', text);
fclose(fid);
end

function version = read_version(root)
% The version set once in CMakeLists.txt: project(mextoolbox VERSION x.y.z ...).
token = regexp(fileread(fullfile(root, 'CMakeLists.txt')), ...
               'project\(mextoolbox\s+VERSION\s+([0-9.]+)', 'tokens', 'once');
if isempty(token)
  error('build_mextoolbox:noVersion', ...
        'CMakeLists.txt beside build_mextoolbox.m does not set project(mextoolbox VERSION ...)');
end
version = token{1};
end

function path = absolute_path(folder)
% FOLDER as an absolute path, so the printed addpath line works from anywhere.
here = pwd;
back = onCleanup(@() cd(here));
cd(folder);
path = pwd;
end
