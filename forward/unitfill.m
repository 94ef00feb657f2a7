%UNITFILL Arrays of ones, built by ONES.
%   [A, B, ...] = UNITFILL(ARGS...) returns as many arrays as you ask for,
%   each made by its own call ONES(ARGS...) with exactly the arguments
%   given: UNITFILL(3) is 3-by-3, UNITFILL(2, 4) and UNITFILL([2 4]) are
%   2-by-4, UNITFILL(2, 'uint8') is a 2-by-2 uint8 array, UNITFILL() is the
%   scalar 1. Asking for two outputs gives two separate arrays.
%
%   UNITFILL checks nothing itself: arguments that ONES refuses raise the
%   error ONES raises. Called without an output (as a statement), it calls
%   nothing and returns nothing. UNITFILL also ships as a Windows x64
%   plug-in (unitfill.mexw64).
%
%   Example:
%      [a, b] = unitfill([2 3], 'single')  % two 2-by-3 single arrays of 1
%
%   See also ONES, NULLFILL.

%!test
%! [a, b] = unitfill ([2 3], "single");
%! assert (a, ones (2, 3, "single"));
%! assert (b, ones (2, 3, "single"));
%!assert (unitfill (3), ones (3))
%!assert (unitfill (2, 4), ones (2, 4))
%!assert (unitfill ([2 4]), ones (2, 4))
%!assert (unitfill (2, "uint8"), ones (2, "uint8"))
%!assert (unitfill (), 1)
%!assert (unitfill (2, 0, 3, "single"), ones (2, 0, 3, "single"))
%!test
%! ## As a statement nothing is built, and nothing is returned.
%! clear ans;
%! unitfill (2);
%! assert (! exist ("ans", "var"));

%!error <invalid data type> a = unitfill (2, "quad")
%!error <conversion of 2.5> a = unitfill (2.5)
