# Run at every build (cmake -P): writes the program's version, the project's
# version plus the commit the tree was built from, into OUTPUT, touching it
# only when the text changed so that nothing else is rebuilt.
#   -DPROJECT_VERSION=1.0.0 -DSOURCE_DIR=... -DOUTPUT=.../program_version_text.h
set(version "${PROJECT_VERSION}")
find_program(git_program git)
if(git_program AND EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND "${git_program}" -C "${SOURCE_DIR}" rev-parse --short=7 HEAD
                  OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
  if(NOT failed AND commit)
    # Changes to tracked files make a build that no commit holds.
    execute_process(COMMAND "${git_program}" -C "${SOURCE_DIR}" status --porcelain --untracked-files=no
                    OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    set(version "${version}+${commit}")
    if(changes)
      set(version "${version}.modified")
    endif()
  endif()
endif()
set(text "// Made by cmake/program_version.cmake at build time.\n#define MUB_PROGRAM_VERSION \"${version}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
