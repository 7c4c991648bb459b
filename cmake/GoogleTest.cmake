# GoogleTest from Debian's source package, built with whichever compiler this tree uses.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# tavilo_add_test(name SOURCES ... LIBS ... [DESKTOP])
# DESKTOP marks tests that open windows or look for windows by caption: they take the one desktop in turn.
function(tavilo_add_test name)
  cmake_parse_arguments(T "DESKTOP" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  set(props TIMEOUT 300)
  if(T_DESKTOP)
    list(APPEND props RESOURCE_LOCK desktop)
  endif()
  # Discovery at test time, so that the Windows executables are listed through the emulator, not at build time.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES ${props})
endfunction()
