# Test programs: one GoogleTest program per area, run natively or, in the Windows flavours, under
# Wine through the emulator: wine64 with the build tree's Wine prefix as a CTest fixture, or 32-bit
# Wine in a cached root (cmake/wine32-run.sh) whose fixture proves the route.
enable_testing()
if(NOT SETUP_TESTS)
  return()
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The shipped flavour's win32 thread model has no std::mutex, on which GoogleTest builds one class.
include(CheckCXXSourceCompiles)
check_cxx_source_compiles("#include <mutex>\nstd::mutex m;\nint main() { return 0; }" SETUP_HAS_STD_MUTEX)
if(NOT SETUP_HAS_STD_MUTEX)
  set(shim ${CMAKE_CURRENT_LIST_DIR}/../tests/support/win32_thread_model)
  target_include_directories(gtest BEFORE PUBLIC ${shim})
  target_sources(gtest PRIVATE ${shim}/gtest_notification.cpp)
endif()

if(WIN32 AND CMAKE_SYSTEM_PROCESSOR STREQUAL i686)
  # Every 32-bit program starts in a private copy of a cached root with its own prefix and display;
  # the fixture makes the root when it is missing and proves that a 32-bit program runs in it.
  set(SETUP_WINE_TMP ${CMAKE_BINARY_DIR}/wine-tmp)
  add_test(NAME wine32_route COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine32-run.sh --probe)
  add_test(NAME wine32_tmp_clear COMMAND ${CMAKE_COMMAND} -E rm -rf ${SETUP_WINE_TMP})
  set_tests_properties(wine32_route PROPERTIES FIXTURES_SETUP wine TIMEOUT 1200 LABELS wine)
  set_tests_properties(wine32_tmp_clear PROPERTIES FIXTURES_SETUP wine)
  # Without a root the emulator must fail and say why, not pass a program it never ran.
  add_test(NAME wine32_route_missing_root COMMAND /bin/sh -c
    "out=$(SETUP_WINE32_CACHE=\"$1\" \"$0\" program.exe 2>&1); rc=$?; echo \"$out\"; [ $rc -ne 0 ] && echo \"$out\" | grep -q 'no 32-bit Wine root'"
    ${CMAKE_SOURCE_DIR}/cmake/wine32-run.sh ${CMAKE_BINARY_DIR}/no-wine32-root)
  set(SETUP_WINE_ENVIRONMENT "SETUP_TEST_TMP_ROOT=${SETUP_WINE_TMP}"
      "SETUP_WINE32_SHARE=${CMAKE_SOURCE_DIR}:${CMAKE_BINARY_DIR}")
elseif(WIN32)
  set(SETUP_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  add_test(NAME wine_prefix_start COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-prefix.sh start)
  add_test(NAME wine_prefix_stop COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-prefix.sh stop)
  set_tests_properties(wine_prefix_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 180
                       ENVIRONMENT WINEPREFIX=${SETUP_WINEPREFIX})
  set_tests_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP wine
                       ENVIRONMENT WINEPREFIX=${SETUP_WINEPREFIX})
  set(SETUP_WINE_ENVIRONMENT "WINEPREFIX=${SETUP_WINEPREFIX}")
endif()

# add_setup_test(NAME SOURCES src... [LIBRARIES lib...] [TIMEOUT seconds])
function(add_setup_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBRARIES" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBRARIES} setup_test_support)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(WIN32)
    # The runner's own limit ends Wine a little before CTest's, so the log still reaches CTest.
    # One at a time: every setup dialog is centred on the one display, so two test programs at
    # once would cover each other's windows and take each other's keyboard focus.
    math(EXPR inner "${T_TIMEOUT} - 10")
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wine_display LABELS wine
      ENVIRONMENT "${SETUP_WINE_ENVIRONMENT};SETUP_TEST_TIMEOUT=${inner}")
  endif()
endfunction()
