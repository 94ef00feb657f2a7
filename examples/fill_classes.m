% fill_classes.m: arrays of zeros and ones of a chosen class with
% nullfill and unitfill.
%
% Each output is made by the host's own zeros or ones with exactly the
% arguments given, so sizes and class names work as they do there, and
% each requested output is a separate array.
%
% Needs the toolbox's functions on the path (see README.md).

[counts, totals] = nullfill(2, 3, 'int16');
fprintf('nullfill(2, 3, ''int16''): two %s arrays of class %s\n', ...
        mat2str(size(counts)), class(counts));
counts(1, 2) = 7;               % separate arrays: totals stays all zero
if ~isequal(totals, zeros(2, 3, 'int16')) || ~strcmp(class(counts), 'int16') || counts(1, 2) ~= 7
  error('fill_classes: nullfill(2, 3, ''int16'') differs from zeros(2, 3, ''int16'')');
end

mask = unitfill([2 4], 'uint8');
fprintf('unitfill([2 4], ''uint8''): %s of class %s, sum %d\n', mat2str(size(mask)), ...
        class(mask), sum(mask(:)));
if ~isequal(mask, ones(2, 4, 'uint8'))
  error('fill_classes: unitfill([2 4], ''uint8'') differs from ones(2, 4, ''uint8'')');
end

weights = unitfill(3, 'single');
fprintf('unitfill(3, ''single''): %s of class %s\n', mat2str(size(weights)), class(weights));
if ~isequal(weights, ones(3, 'single')) || ~isa(weights, 'single')
  error('fill_classes: unitfill(3, ''single'') differs from ones(3, ''single'')');
end

classes = {'double', 'single', 'int8', 'uint8', 'int16', 'uint16', 'int32', 'uint32', ...
           'int64', 'uint64'};
for k = 1:numel(classes)
  z = nullfill(1, 2, classes{k});
  o = unitfill(1, 2, classes{k});
  if ~isequal(z, zeros(1, 2, classes{k})) || ~isa(z, classes{k}) || ...
     ~isequal(o, ones(1, 2, classes{k})) || ~isa(o, classes{k})
    error('fill_classes: class %s differs from zeros/ones', classes{k});
  end
end
fprintf('fill_classes: all %d class names give what zeros and ones give\n', numel(classes));
