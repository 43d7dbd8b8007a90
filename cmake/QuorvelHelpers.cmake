# Warnings shared by every target of the project.
add_library(quorvel_warnings INTERFACE)
add_library(quorvel::warnings ALIAS quorvel_warnings)
target_compile_options(quorvel_warnings INTERFACE -Wall -Wextra)


# quorvel_add_test(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>] [QT]
#                  [DISPLAY] [TIMEOUT <seconds>])
# Adds a test executable and registers it with CTest. Without QT the test is a GoogleTest
# program; with QT it is a Qt Test program run on the offscreen platform. A Windows test with
# DISPLAY makes windows: under wine it gets a virtual display. TIMEOUT is what the test may
# take on a loaded two-core machine, a few times what it takes there idle: a hang costs no
# more. 60 s unless given.
function(quorvel_add_test name)
  cmake_parse_arguments(ARG "QT;DISPLAY" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 60)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} quorvel::test_support quorvel::warnings)
  target_compile_features(${name} PRIVATE cxx_std_20)
  if(ARG_QT)
    target_link_libraries(${name} PRIVATE Qt6::Test)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  if(ARG_DISPLAY AND QUORVEL_WINE)
    add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${QUORVEL_WINE}
                                  $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set(env "")
  if(ARG_QT)
    list(APPEND env QT_QPA_PLATFORM=offscreen)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" ENVIRONMENT "${env}"
                                          TIMEOUT ${ARG_TIMEOUT})
endfunction()
