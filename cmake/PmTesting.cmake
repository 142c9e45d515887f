# Helpers that register tests with a time-out, so that an unexpected modal
# window or a hung port fails its test instead of hanging the run.

# The tests' own sources are compiled without optimisation and with line
# tables only (-O0 -g1): optimising GoogleTest's and QtTest's expansions is
# most of what a test source costs, and a failure's backtrace still names
# file and line. The program's sources they test keep the build's own flags.
set(PM_TEST_COMPILE_OPTIONS -O0 -g1)

# The change journal of every write the tests make goes to the build folder,
# never into the user's own data folder, and the window's remembered
# choices are the tests' own.
set(PM_TEST_DATA_HOME "${CMAKE_BINARY_DIR}/test-data-home")
set(PM_TEST_CONFIG_HOME "${CMAKE_BINARY_DIR}/test-config-home")

# Each kind of test program reuses one precompiled header set, built with the
# tests' flags by a target of its own: GoogleTest for the plain programs, the
# Qt Widgets headers for the QtTest programs (QtTest itself stays out: its
# headers depend on the test's own folder).
if(PM_PCH)
  set(_pm_pch_anchor "${CMAKE_BINARY_DIR}/generated/pm_pch_anchor.cpp")
  file(CONFIGURE OUTPUT "${_pm_pch_anchor}" CONTENT "// Builds a precompiled header set.\n")
  add_library(pm_gtest_pch OBJECT "${_pm_pch_anchor}")
  target_link_libraries(pm_gtest_pch PRIVATE GTest::gtest)
  target_compile_options(pm_gtest_pch PRIVATE ${PM_TEST_COMPILE_OPTIONS})
  target_precompile_headers(pm_gtest_pch PRIVATE ${PM_GTEST_PCH_HEADERS})

  add_library(pm_qtest_pch OBJECT "${_pm_pch_anchor}")
  target_link_libraries(pm_qtest_pch PRIVATE Qt6::Widgets)
  target_compile_options(pm_qtest_pch PRIVATE ${PM_TEST_COMPILE_OPTIONS})
  target_precompile_headers(pm_qtest_pch PRIVATE ${PM_QT_PCH_HEADERS})
endif()

# pm_test_pch(<target> <producer>): the test program compiles with the set.
function(pm_test_pch target producer)
  target_compile_options(${target} PRIVATE ${PM_TEST_COMPILE_OPTIONS})
  if(PM_PCH)
    target_precompile_headers(${target} REUSE_FROM ${producer})
    target_compile_options(${target} PRIVATE -Winvalid-pch)
  endif()
endfunction()

# pm_add_gtest(<name> SOURCES <files...> LIBS <libs...> [TIMEOUT <s>])
function(pm_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # The data and config folders go in the program itself: a list of
  # variables does not survive the discovered tests' properties.
  add_executable(${name} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/TestHome.cpp)
  target_compile_definitions(${name} PRIVATE PM_TEST_DATA_HOME="${PM_TEST_DATA_HOME}"
                                             PM_TEST_CONFIG_HOME="${PM_TEST_CONFIG_HOME}")
  # A program of several test sources compiles them as one unit: GoogleTest's
  # expansions are then instantiated once.
  set_target_properties(${name} PROPERTIES UNITY_BUILD ${PM_UNITY} UNITY_BUILD_BATCH_SIZE 0)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  pm_test_pch(${name} pm_gtest_pch)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# pm_add_qtest(<name> SOURCES <files...> LIBS <libs...> [TIMEOUT <s>])
# A QtTest program run on the offscreen platform.
function(pm_add_qtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 180)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} Qt6::Test Qt6::Widgets)
  # Each test class is a QObject, its moc output included by the source;
  # the moc's own compilation unit is then empty and needs no header set.
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  set_source_files_properties("${CMAKE_CURRENT_BINARY_DIR}/${name}_autogen/mocs_compilation.cpp"
    PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
  pm_test_pch(${name} pm_qtest_pch)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    # Qt's own libraries keep caches alive until exit; leak reports of the
    # window tests would be about them, not about this program.
    # Each window test keeps its remembered choices and its data apart from
    # the others running at the same time.
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=0;XDG_DATA_HOME=${PM_TEST_DATA_HOME}/${name};XDG_CONFIG_HOME=${PM_TEST_CONFIG_HOME}/${name}")
endfunction()
