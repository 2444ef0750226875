# lyb_add_test(NAME name SOURCES a.cpp ... LIBS lib ... [DBUS] [LABELS l ...])
#
# Builds one GoogleTest program and registers it with CTest. Every test runs
# through tests/run-isolated: its own registry file, XDG folders, runtime and
# temporary folder, the offscreen Qt platform and the null audio device, so
# tests never touch the user's settings or mail and can run in parallel.
# DBUS runs it under a private dbus-run-session.
#
# Tests labelled "threaded" also make up lyb_threaded_tests, the set that the
# thread sanitizer build runs; that build leaves the other tests out.
function(lyb_add_test)
  cmake_parse_arguments(T "DBUS" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  if(LYB_SANITIZE STREQUAL "thread" AND NOT "threaded" IN_LIST T_LABELS)
    # Defined, so other lists may refer to it, but neither built nor run here.
    set_target_properties(${T_NAME} PROPERTIES EXCLUDE_FROM_ALL ON)
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    return()
  endif()
  if("threaded" IN_LIST T_LABELS)
    add_dependencies(lyb_threaded_tests ${T_NAME})
  endif()
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_definitions(${T_NAME} PRIVATE
    LYB_SOURCE_DIR="${CMAKE_SOURCE_DIR}" LYB_BINARY_DIR="${CMAKE_BINARY_DIR}")
  set(runner ${CMAKE_SOURCE_DIR}/tests/run-isolated)
  if(T_DBUS)
    set(runner ${runner} --dbus)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${runner} $<TARGET_FILE:${T_NAME}>)
  # A hung test fails instead of holding the suite up.
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT 600)
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# lyb_add_library(name SOURCES ... PUBLIC_LIBS ... PRIVATE_LIBS ...)
# One static library per folder; its folder's parent is the include root, so
# users write #include "platform/registry/registry.h".
function(lyb_add_library name)
  cmake_parse_arguments(L "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${L_PUBLIC_LIBS} PRIVATE ${L_PRIVATE_LIBS})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
endfunction()
