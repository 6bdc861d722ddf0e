# mub_library(NAME DIR DEPS...): a static library from every .cpp in DIR.
# New files are picked up at the next build without editing this list.
function(mub_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${sources})
  target_link_libraries(${name} PUBLIC ${ARGN})
endfunction()
