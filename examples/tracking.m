% tracking.m: match detections between two video frames with pairsolve.
%
% Each track of the previous frame should continue with the nearest
% detection of the current frame, no detection used twice, and the total
% distance least. Pairs farther apart than a gate are impossible: their cost
% is Inf. A track with no detection inside its gate stays unmatched
% (assignment 0); a detection that no track takes starts a new track.
% Tracks 2 and 5 both lie nearest to detection 1: the optimal matching
% gives it to track 2, which has no other detection in reach, and sends
% track 5 on to detection 6, where taking each track's nearest detection
% would have lost track 2.
%
% Needs the toolbox's functions on the path (see README.md).

previous = [10 10; 40 12; 75 60; 20 50; 46 16];          % track positions (x, y)
current = [42 15; 11 13; 22 47; 90 90; 60 30; 50 20];    % detections (x, y)
gate = 8;                                          % largest plausible move

dx = bsxfun(@minus, previous(:, 1), current(:, 1)');
dy = bsxfun(@minus, previous(:, 2), current(:, 2)');
distance = sqrt(dx.^2 + dy.^2);
cost = distance;
cost(distance > gate) = Inf;                       % outside the gate: forbidden

[assignment, total] = pairsolve(cost);

[~, nearest] = min(distance, [], 2);
for track = 1:size(previous, 1)
  if assignment(track) == 0
    fprintf('track %d: lost (no detection within %g)\n', track, gate);
  else
    fprintf('track %d -> detection %d, moved %.3f (nearest detection: %d)\n', track, ...
            assignment(track), distance(track, assignment(track)), nearest(track));
  end
end
unused = setdiff(1:size(current, 1), assignment(assignment > 0));
fprintf('new tracks from detections: %s\n', mat2str(unused));
fprintf('total distance of the matches: %.6f\n', total);

% Check: try every way of giving each track a different detection (or none)
% and keep the one with the most pairs inside the gate, then the least
% total distance.
rows = size(cost, 1);
columns = size(cost, 2);
orders = perms(1:columns);
bestPairs = -1;
bestCost = Inf;
best = zeros(rows, 1);
for k = 1:size(orders, 1)
  candidate = orders(k, 1:rows)';
  allowed = isfinite(cost(sub2ind(size(cost), (1:rows)', candidate)));
  candidate(~allowed) = 0;
  pairs = sum(allowed);
  sumCost = sum(cost(sub2ind(size(cost), find(allowed), candidate(allowed))));
  if pairs > bestPairs || (pairs == bestPairs && sumCost < bestCost)
    bestPairs = pairs;
    bestCost = sumCost;
    best = candidate;
  end
end
if ~isequal(assignment, best) || abs(total - bestCost) > 1e-12 * bestCost
  error('tracking: pairsolve gave %s (cost %g), the exhaustive search %s (cost %g)', ...
        mat2str(assignment'), total, mat2str(best'), bestCost);
end
fprintf('tracking: matches the exhaustive search over all %d orders\n', size(orders, 1));
