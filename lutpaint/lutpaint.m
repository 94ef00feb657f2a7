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
%     - double indices that are not whole numbers are rounded (halves up)
%       and indices outside 1..P are clamped to the first or last row, with
%       no error and no warning; IND2RGB refuses non-integer indices.
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
%   Errors, checked in this order (identifier, message):
%     Pixelry:lutpaint:wrongNumInputs    LUTPAINT expected two input arguments.
%     Pixelry:lutpaint:invalidInputType  X must be uint8, uint16, or double.
%     Pixelry:lutpaint:inputNot2D        X must be two-dimensional.
%     Pixelry:lutpaint:sparseInput       X must not be sparse.
%     Pixelry:lutpaint:invalidMapSize    CMAP must be a P-by-3 matrix.
%     Pixelry:lutpaint:invalidMapType    CMAP must be double.
%     Pixelry:lutpaint:sparseMap         CMAP must not be sparse.
%     Pixelry:lutpaint:emptyMap          CMAP must have at least one row.
%   and then lutpaint:tooManyOutputs when more than one output is asked for.
%
%   See also IND2RGB, RGB2IND.
