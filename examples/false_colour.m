% false_colour.m: false-colour images with lutpaint.
%
% lutpaint turns an indexed image and a colour map into a uint8 truecolour
% image in one step. uint8 and uint16 images are 0-based (0 is the map's
% first row), double images 1-based, as in ind2rgb.
%
% Needs the toolbox's functions on the path (see README.md).

[x, y] = meshgrid(linspace(-2, 2, 64), linspace(-1.5, 1.5, 48));
height = exp(-x.^2 - 2 * y.^2) + 0.3 * exp(-(x - 1.2).^2 - (y + 0.6).^2);
level = uint8(round(255 * height / max(height(:))));   % 48-by-64 uint8, 0..255

map = jet(256);
rgb = lutpaint(level, map);
fprintf('jet: %s image of class %s from a %s %s image\n', mat2str(size(rgb)), class(rgb), ...
        mat2str(size(level)), class(level));
fprintf('jet: the peak pixel is [%d %d %d], a corner pixel [%d %d %d]\n', ...
        squeeze(rgb(24, 32, :)), squeeze(rgb(1, 1, :)));

% The same image through the plain expression: look up each pixel's row
% (pixel value + 1), scale to bytes with halves rounded up.
bytes = uint8(floor(255 * map(double(level) + 1, :) + 0.5));
expected = reshape(bytes, [size(level) 3]);
if ~isequal(rgb, expected)
  error('false_colour: lutpaint with jet(256) differs from the plain lookup');
end
% ... and through ind2rgb, which returns intensities in [0, 1].
if ~isequal(rgb, uint8(floor(255 * ind2rgb(level, map) + 0.5)))
  error('false_colour: lutpaint with jet(256) differs from ind2rgb');
end

% A grey ramp from a double image: 1-based indices, values past the map
% are clamped to its last row.
index = [1 64 128; 192 256 300];
grey = lutpaint(index, gray(256));
fprintf('gray: red bytes of [1 64 128; 192 256 300] are %s\n', mat2str(grey(:, :, 1)));
expected = uint8(floor(255 * gray(256) + 0.5));
expected = expected(min(index, 256), :);
if ~isequal(grey, reshape(expected, [size(index) 3]))
  error('false_colour: lutpaint with gray(256) differs from the plain lookup');
end
if ~isequal(grey(:, :, 1), grey(:, :, 2)) || ~isequal(grey(:, :, 2), grey(:, :, 3))
  error('false_colour: a grey map gave unequal channels');
end
fprintf('false_colour: both images match the plain lookups\n');
