# GoogleTest for both builds. The native build uses Debian's libgtest-dev;
# the cross build compiles the same sources (shipped in /usr/src/googletest)
# with MinGW so the Windows-side tests can run under Wine.
if(CMAKE_CROSSCOMPILING)
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
  set(ZP3K_GTEST_LIBS gtest gmock gtest_main)

  # Every cross-built program runs under Wine with a prefix of this build's
  # own, the Japanese locale (ANSI code page 932) and no debug chatter.
  set(ZP3K_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(ZP3K_WINE_ENV WINEPREFIX=${ZP3K_WINEPREFIX} WINEDEBUG=-all LANG=ja_JP.UTF-8
      LC_ALL=ja_JP.UTF-8 WINEDLLOVERRIDES=mscoree,mshtml=)
  set(CMAKE_CROSSCOMPILING_EMULATOR env ${ZP3K_WINE_ENV} wine)
  # The prefix is made once per build folder (wineboot -i, a few seconds).
  add_custom_command(
    OUTPUT ${ZP3K_WINEPREFIX}/.zp3k-ready
    COMMAND env ${ZP3K_WINE_ENV} wineboot -i
    COMMAND env ${ZP3K_WINE_ENV} wineserver -w
    COMMAND ${CMAKE_COMMAND} -E touch ${ZP3K_WINEPREFIX}/.zp3k-ready
    COMMENT "Creating the Wine prefix")
  add_custom_target(wineprefix ALL DEPENDS ${ZP3K_WINEPREFIX}/.zp3k-ready)
else()
  # The main job builds the programs without GoogleTest; only the tests need it.
  find_package(GTest QUIET)
  if(NOT GTest_FOUND)
    message(STATUS "GoogleTest not found (libgtest-dev): the tests are not built")
  endif()
  set(ZP3K_GTEST_LIBS GTest::gtest GTest::gmock GTest::gtest_main)
endif()
include(GoogleTest)

# zp3k_add_unit_test(NAME SOURCES... LIBS ...): one GoogleTest program, its
# cases registered with CTest one by one and labelled "unit".
function(zp3k_add_unit_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${ZP3K_GTEST_LIBS})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(CMAKE_CROSSCOMPILING)
    # Listed when CTest runs, after the build has made the Wine prefix.
    gtest_discover_tests(${name} PROPERTIES LABELS "${T_LABELS}" DISCOVERY_TIMEOUT 120
                         DISCOVERY_MODE PRE_TEST)
  else()
    gtest_discover_tests(${name} PROPERTIES LABELS "${T_LABELS}" DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
