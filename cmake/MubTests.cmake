# mub_test_program(TARGET GROUP HEADER...): compile options of a test
# program. Test code is checks, not the product: it builds without
# optimisation (the libraries under test keep the build's own flags), and
# the headers that take half of each test file's compile time are
# precompiled once per GROUP of programs with the same flags (the first
# program of the group owns them; the others reuse them).
function(mub_test_program target group)
  target_compile_options(${target} PRIVATE -O0 -g1 -Winvalid-pch)
  get_property(owner GLOBAL PROPERTY MUB_TEST_PCH_${group})
  if(owner)
    target_precompile_headers(${target} REUSE_FROM ${owner})
  else()
    target_precompile_headers(${target} PRIVATE ${ARGN})
    set_property(GLOBAL PROPERTY MUB_TEST_PCH_${group} ${target})
  endif()
endfunction()
