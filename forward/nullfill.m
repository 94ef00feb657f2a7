%NULLFILL Arrays of zeros, built by ZEROS.
%   [A, B, ...] = NULLFILL(ARGS...) returns as many arrays as you ask for,
%   each made by its own call ZEROS(ARGS...) with exactly the arguments
%   given: NULLFILL(3) is 3-by-3, NULLFILL(2, 4) and NULLFILL([2 4]) are
%   2-by-4, NULLFILL(2, 'uint8') is a 2-by-2 uint8 array, NULLFILL() is the
%   scalar 0. Asking for two outputs gives two separate arrays.
%
%   NULLFILL checks nothing itself: arguments that ZEROS refuses raise the
%   error ZEROS raises. Called without an output (as a statement), it calls
%   nothing and returns nothing.
%
%   Example:
%      [a, b] = nullfill(2, 3, 'int16')   % two 2-by-3 int16 arrays of 0
%
%   See also ZEROS, UNITFILL.

%!test
%! [a, b] = nullfill (2, 3, "int16");
%! assert (a, zeros (2, 3, "int16"));
%! assert (b, zeros (2, 3, "int16"));
%!assert (nullfill (3), zeros (3))
%!assert (nullfill (2, 4), zeros (2, 4))
%!assert (nullfill ([2 4]), zeros (2, 4))
%!assert (nullfill (2, "uint8"), zeros (2, "uint8"))
%!assert (nullfill (), 0)
%!assert (nullfill (2, 0, 3, "single"), zeros (2, 0, 3, "single"))
%!test
%! ## As a statement nothing is built, and nothing is returned.
%! clear ans;
%! nullfill (2);
%! assert (! exist ("ans", "var"));

%!error <invalid data type> a = nullfill (2, "quad")
%!error <conversion of 2.5> a = nullfill (2.5)
