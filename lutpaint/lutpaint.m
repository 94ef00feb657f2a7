%LUTPAINT Convert an indexed image to an 8-bit truecolour image.
%   RGB = LUTPAINT(X, CMAP) looks up every element of the indexed image X in
%   the colour map CMAP and returns the M-by-N-by-3 uint8 image RGB, where
%   M-by-N is the size of X. RGB(:,:,1), RGB(:,:,2) and RGB(:,:,3) hold the
%   red, green and blue bytes.
%
%   X is a full, two-dimensional matrix of class uint8, uint16 or double.
%     - uint8 and uint16 elements are 0-based: 0 selects the first row of
%       CMAP. Values of P or more select the last row.
%     - double elements are 1-based: 1 selects the first row. A value is
%       rounded to the nearest row with halves going up (1.5 selects row 2,
%       2.4999 row 2, 2.5 row 3); NaN, -Inf and values below 1 select the
%       first row; values above P and +Inf select the last row.
%   CMAP is a full P-by-3 double matrix, P >= 1, whose columns are red,
%   green and blue intensities in [0, 1]. Each intensity v becomes the byte
%   floor(255*v + 0.5), halves going up (0.5 gives 128). Values below 0, NaN
%   and -Inf give 0; values above 1 and +Inf give 255.
%   Complex X or CMAP are accepted; only their real parts are read.
%   An empty X gives an empty RGB of size M-by-N-by-3.
%
%   Differences from IND2RGB:
%     - RGB is a uint8 image (bytes 0 to 255), not a double image in [0, 1].
%     - Indices outside the map select its first or last row, silently.
%       Octave's IND2RGB (7.3) clamps whole-number indices the same way,
%       with a warning. MATLAB's IND2RGB is documented for indices 1 to P
%       (0 to P-1 for integer classes); we have not run it.
%     - double indices that are not whole numbers are rounded (halves up)
%       and NaN selects the first row; Octave's IND2RGB refuses both.
%     - intensities outside [0, 1] and NaN in CMAP are clamped as above.
%
%   Example:
%      X = uint8([0 1; 2 5]);
%      CMAP = [0 0 0; 1 0.5 0; 0.2 0.4 1];
%      RGB = lutpaint(X, CMAP)
%      % RGB(:,:,1) = [0 255; 51 51], RGB(:,:,2) = [0 128; 102 102],
%      % RGB(:,:,3) = [0 0; 255 255]   (5 is past the map: the last row)
%
%      lutpaint([1 2; 3 6], CMAP)     % the same image, 1-based indices
%
%   Errors, checked in this order:
%     Pixelry:lutpaint:wrongNumInputs    not exactly two inputs
%     Pixelry:lutpaint:invalidInputType  X not of class uint8, uint16 or double
%     Pixelry:lutpaint:inputNot2D        X with more than two dimensions
%     Pixelry:lutpaint:sparseInput       X sparse
%     Pixelry:lutpaint:invalidMapSize    CMAP not P-by-3
%     Pixelry:lutpaint:invalidMapType    CMAP not double
%     Pixelry:lutpaint:sparseMap         CMAP sparse
%     Pixelry:lutpaint:emptyMap          CMAP with no rows
%     lutpaint:tooManyOutputs            more than one output asked for
%
%   See also IND2RGB, RGB2IND.

%!shared X, CMAP, RGB
%! X = uint8 ([0 1; 2 5]);
%! CMAP = [0 0 0; 1 0.5 0; 0.2 0.4 1];
%! RGB = cat (3, uint8 ([0 255; 51 51]), uint8 ([0 128; 102 102]), uint8 ([0 0; 255 255]));
%!assert (lutpaint (X, CMAP), RGB)
%!assert (lutpaint ([1 2; 3 6], CMAP), RGB)
%!assert (lutpaint (uint16 ([0 1; 2 65535]), CMAP), RGB)
%!test
%! ## double indices: rounded with halves up; NaN, -Inf and below 1 give
%! ## row 1; above P and Inf give row P.
%! map = [0; 0.5; 1] * [1 1 1];
%! got = lutpaint ([1.5 2.4999 2.5 NaN -Inf 0.4 Inf 7], map);
%! assert (got(:, :, 1), uint8 ([128 128 255 0 0 0 255 255]));
%!test
%! ## intensities: floor (255*v + 0.5), clamped to [0, 255], NaN gives 0.
%! got = lutpaint (uint8 ([0 1 2 3 4]), [0.5 1.5 -1; NaN Inf -Inf; 1/255 0.2 0; 0 0 0; 1 1 1]);
%! assert (squeeze (got), uint8 ([128 255 0; 0 255 0; 1 51 0; 0 0 0; 255 255 255]));
%!assert (size (lutpaint (zeros (0, 4), CMAP)), [0 4 3])
%!assert (lutpaint (complex (2, 7), CMAP), lutpaint (2, CMAP))

%!error id=Pixelry:lutpaint:wrongNumInputs lutpaint (X)
%!error id=Pixelry:lutpaint:invalidInputType lutpaint (single (X), CMAP)
%!error id=Pixelry:lutpaint:inputNot2D lutpaint (zeros (2, 2, 2, "uint8"), CMAP)
%!error id=Pixelry:lutpaint:sparseInput lutpaint (sparse ([1 2; 0 3]), CMAP)
%!error id=Pixelry:lutpaint:invalidMapSize lutpaint (X, CMAP(:, 1:2))
%!error id=Pixelry:lutpaint:invalidMapType lutpaint (X, single (CMAP))
%!error id=Pixelry:lutpaint:sparseMap lutpaint (X, sparse (CMAP))
%!error id=Pixelry:lutpaint:emptyMap lutpaint (X, zeros (0, 3))
%!error id=lutpaint:tooManyOutputs [a, b] = lutpaint (X, CMAP)
