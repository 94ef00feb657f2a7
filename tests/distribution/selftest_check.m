function selftest_check (cases_file)
% selftest_check: the self-test reports what it must. On a case file with
% 5 passing lines, 2 lines for other hosts and 13 failing ones of every
% kind (selftest_faults.cases), mextoolbox_test returns exactly those
% counts and, called without outputs, raises mextoolbox_test:failed.
  [passed, failed, skipped] = mextoolbox_test ({cases_file});
  if (! isequal ([passed, failed, skipped], [5, 13, 2]))
    error ("selftest_check: counted %d passed, %d failed, %d skipped; expected 5, 13, 2", ...
           passed, failed, skipped);
  endif
  try
    mextoolbox_test ({cases_file});
    error ("selftest_check: mextoolbox_test raised no error for failing cases");
  catch err
    if (! strcmp (err.identifier, "mextoolbox_test:failed"))
      rethrow (err);
    endif
  end_try_catch
  printf ("the self-test reports every kind of failure\n");
endfunction
