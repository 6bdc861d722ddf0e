# mub_test_program(TARGET): compile options of a GoogleTest program. Test code
# is checks, not the product: it builds without optimisation (the
# libraries under test keep the build's own flags), and GoogleTest's headers,
# half of each test file's compile time, are precompiled once and shared by
# every test program of the build (the first one that asks owns them).
function(mub_test_program target)
  target_compile_options(${target} PRIVATE -O0 -g1 -Winvalid-pch)
  get_property(owner GLOBAL PROPERTY MUB_TEST_PCH_OWNER)
  if(owner)
    target_precompile_headers(${target} REUSE_FROM ${owner})
  else()
    target_precompile_headers(${target} PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
    set_property(GLOBAL PROPERTY MUB_TEST_PCH_OWNER ${target})
  endif()
endfunction()
