# Writes the 12-digit revision of the checkout, or the release revision
# outside a checkout, into OUTPUT when it differs from what is there.
set(revision "44ad57f6c398")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --short=12 HEAD
    WORKING_DIRECTORY ${SOURCE_DIR} OUTPUT_VARIABLE git_revision
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE git_result)
  if(git_result EQUAL 0 AND git_revision MATCHES "^[0-9a-f]+$")
    string(SUBSTRING "${git_revision}" 0 12 revision)
  endif()
endif()
set(content "#pragma once\n#define TESSALY_REVISION \"${revision}\"\n")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT "${old}" STREQUAL "${content}")
  file(WRITE ${OUTPUT} "${content}")
endif()
