# TinyXML for the Windows build: the distribution's source package of the installed libtinyxml-dev
# (the same version and patches the Linux build links), fetched once into the build tree and
# compiled with the cross compiler. It is never part of the repository.
set(MIREL_TINYXML_DIR ${CMAKE_BINARY_DIR}/tinyxml-src)

execute_process(COMMAND dpkg-query -W -f=\${source:Version} libtinyxml-dev
                OUTPUT_VARIABLE tinyxml_wanted ERROR_QUIET)
set(tinyxml_have "")
if(EXISTS ${MIREL_TINYXML_DIR}/.mirel-version)
  file(STRINGS ${MIREL_TINYXML_DIR}/.mirel-version tinyxml_have LIMIT_COUNT 1)
endif()
if(NOT EXISTS ${MIREL_TINYXML_DIR}/tinyxml.cpp OR NOT tinyxml_have STREQUAL tinyxml_wanted)
  message(STATUS "Fetching the TinyXML source package ${tinyxml_wanted}")
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/fetch-tinyxml ${MIREL_TINYXML_DIR}
                  RESULT_VARIABLE tinyxml_fetch)
  if(NOT tinyxml_fetch EQUAL 0)
    message(FATAL_ERROR "The TinyXML source package could not be fetched (see the messages above); "
                        "the Windows build cannot go on without it.")
  endif()
endif()

add_library(tinyxml STATIC
  ${MIREL_TINYXML_DIR}/tinyxml.cpp
  ${MIREL_TINYXML_DIR}/tinystr.cpp
  ${MIREL_TINYXML_DIR}/tinyxmlerror.cpp
  ${MIREL_TINYXML_DIR}/tinyxmlparser.cpp)
target_include_directories(tinyxml SYSTEM PUBLIC ${MIREL_TINYXML_DIR})
# Not our code: its warnings are not ours to fix.
target_compile_options(tinyxml PRIVATE -w)
