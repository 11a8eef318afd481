# The test programs, one per source file under tests/ (without ".cpp"), each
# with what it needs beyond the offscreen platform: "failing_io" runs it with
# the shim that counts and fails system calls preloaded. The table lives with
# the tests so that a tree's tests come with their own list.
set(TAVLO_TESTS
  store/tst_formats       -
  store/tst_agendafile    -
  ui/tst_form1            -
  ui/tst_memocycle        -
  ui/tst_adddate          -
  platform/tst_singleinstance -
  app/tst_startup         -
  faults/tst_faultloop    failing_io)
