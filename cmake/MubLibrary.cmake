# mub_os_sources(VAR FILES...): FILES without those of the other operating
# system. Code that differs between the systems lives in separate files
# whose names say which: "linux" or "posix" in the name builds only on
# Linux, "windows" only on Windows.
function(mub_os_sources out)
  set(kept)
  foreach(file ${ARGN})
    get_filename_component(name ${file} NAME)
    if(WIN32 AND name MATCHES "linux|posix")
      continue()
    endif()
    if(NOT WIN32 AND name MATCHES "windows")
      continue()
    endif()
    list(APPEND kept ${file})
  endforeach()
  set(${out} ${kept} PARENT_SCOPE)
endfunction()

# mub_library(NAME DEPS...): a static library from every .cpp in the current
# folder (those of this operating system). New files are picked up at the
# next build without editing a list.
function(mub_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  mub_os_sources(sources ${sources})
  if(sources)
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()
