# Build helpers shared by every folder.

# widl: header, GUID file and type library from one IDL file.
# Sets ${name}_IDL_HEADER, ${name}_IDL_IID and ${name}_IDL_TLB, and makes the library
# ${name}_interfaces: the interfaces and GUIDs as a client sees them (the program, the
# console scanner, tests).
function(tolvane_idl name idl)
  set(out ${CMAKE_CURRENT_BINARY_DIR})
  set(src ${CMAKE_CURRENT_SOURCE_DIR}/${idl})
  if(TOLVANE_EDITION EQUAL 64)
    set(widl_flags --win64 -L/usr/lib/x86_64-linux-gnu/wine/x86_64-windows -L/usr/lib/wine/x86_64-windows)
  else()
    set(widl_flags --win32 -L/usr/lib/i386-linux-gnu/wine/i386-windows -L/usr/lib/wine/i386-windows)
  endif()
  list(APPEND widl_flags -I/usr/include/wine/wine/windows -I/usr/include/wine/windows)
  add_custom_command(
    OUTPUT ${out}/${name}.h ${out}/${name}_i.c ${out}/${name}.tlb
    COMMAND ${WIDL_EXECUTABLE} ${widl_flags} -h -H ${out}/${name}.h ${src}
    COMMAND ${WIDL_EXECUTABLE} ${widl_flags} -u -o ${out}/${name}_i.c ${src}
    COMMAND ${WIDL_EXECUTABLE} ${widl_flags} -t -o ${out}/${name}.tlb ${src}
    DEPENDS ${src}
    COMMENT "widl ${idl}")
  add_library(${name}_interfaces STATIC ${out}/${name}_i.c ${out}/${name}.h)
  target_include_directories(${name}_interfaces PUBLIC ${out})
  target_link_libraries(${name}_interfaces PUBLIC ole32 oleaut32 uuid)
  set(${name}_IDL_HEADER ${out}/${name}.h PARENT_SCOPE)
  set(${name}_IDL_IID ${out}/${name}_i.c PARENT_SCOPE)
  set(${name}_IDL_TLB ${out}/${name}.tlb PARENT_SCOPE)
endfunction()

# How CTest judges a GoogleTest program: besides its exit status, a crash report in its
# output (ours from the tests' main, or Wine's for a program a test started) fails it,
# and scripts/wine-gtest fails a run that never printed GoogleTest's closing line.
set(TOLVANE_TEST_CRASH_LINE "Unhandled exception|wine: Unhandled")
function(tolvane_gtest_command name target)
  add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-gtest $<TARGET_FILE:${target}> ${ARGN})
  set_tests_properties(${name} PROPERTIES FAIL_REGULAR_EXPRESSION "${TOLVANE_TEST_CRASH_LINE}")
endfunction()

# One GoogleTest program, run by CTest as one test under Wine in the build's prefix.
#   tolvane_add_test(NAME n SOURCES ... [LIBS ...] [LOCK ...] [FIXTURES ...] [WIN98])
# Every program gets the tests' own main (tests/test_main.cpp).
function(tolvane_add_test)
  cmake_parse_arguments(T "WIN98" "NAME" "SOURCES;LIBS;LOCK;FIXTURES" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} tolvane_test_main GTest::gtest)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  tolvane_gtest_command(${T_NAME} ${T_NAME})
  set(fixtures wineprefix ${T_FIXTURES})
  set_tests_properties(${T_NAME} PROPERTIES
    FIXTURES_REQUIRED "${fixtures}"
    ENVIRONMENT "${TOLVANE_TEST_ENV};TOLVANE_BUILD=${CMAKE_BINARY_DIR};TOLVANE_SOURCE=${CMAKE_SOURCE_DIR}"
    TIMEOUT 300)
  if(T_LOCK)
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK "${T_LOCK}")
  endif()
  if(T_WIN98)
    # Wine reports Windows 98 to this one program, which reaches the 9x code paths.
    set_tests_properties(${T_NAME} PROPERTIES
      FIXTURES_REQUIRED "${fixtures};win98_${T_NAME}")
    add_test(NAME ${T_NAME}_as_win98
      COMMAND ${TOLVANE_WINE_RUN} reg add "HKCU\\Software\\Wine\\AppDefaults\\${T_NAME}.exe"
              /v Version /t REG_SZ /d win98 /f)
    set_tests_properties(${T_NAME}_as_win98 PROPERTIES
      FIXTURES_SETUP win98_${T_NAME} FIXTURES_REQUIRED wineprefix
      ENVIRONMENT "${TOLVANE_TEST_ENV}")
  endif()
endfunction()

# The cases of the 32-bit test program `target` that `filter` selects (those about 64-bit
# Windows, TOLVANE_NEEDS_WINDOWS64) run once more, under WOW64 in the prefix that
# tests/CMakeLists.txt makes for it. There a case that finds no WOW64 fails instead of
# skipping (TOLVANE_REQUIRE_WOW64), and so does a filter that selects no case. The run
# takes the program's own locks: both runs write the same PROGRAM.out.
function(tolvane_add_wow64_test target filter)
  if(NOT TOLVANE_EDITION EQUAL 32)
    return()
  endif()
  tolvane_gtest_command(${target}_wow64 ${target} --gtest_filter=${filter})
  set_tests_properties(${target}_wow64 PROPERTIES
    FAIL_REGULAR_EXPRESSION "${TOLVANE_TEST_CRASH_LINE}|\\[  PASSED  \\] 0 tests"
    FIXTURES_REQUIRED wow64prefix
    ENVIRONMENT "${TOLVANE_WOW64_ENV};TOLVANE_REQUIRE_WOW64=1;TOLVANE_BUILD=${CMAKE_BINARY_DIR};TOLVANE_SOURCE=${CMAKE_SOURCE_DIR}"
    TIMEOUT 300)
  get_test_property(${target} RESOURCE_LOCK lock)
  if(lock)
    set_tests_properties(${target}_wow64 PROPERTIES RESOURCE_LOCK "${lock}")
  endif()
endfunction()

# A loopback server script (on tests/loopback_server.py) as the CTest fixture `name`:
# started in `folder` on a free port of 127.0.0.1 before the tests that require the
# fixture, and ended after them whatever they did.
function(tolvane_loopback_server name script folder)
  add_test(NAME ${name}_start COMMAND /usr/bin/python3 ${script} start ${folder})
  add_test(NAME ${name}_stop COMMAND /usr/bin/python3 ${script} stop ${folder})
  set_tests_properties(${name}_start PROPERTIES FIXTURES_SETUP ${name} TIMEOUT 60)
  set_tests_properties(${name}_stop PROPERTIES FIXTURES_CLEANUP ${name} TIMEOUT 60)
endfunction()

# A system DLL that the program needs only once the user opens a window or starts an
# update, loaded at the first call of one of its functions instead of at every start:
# the library tolvane_delayed_${dll}, an import library of the delay-load kind that
# dlltool makes from cmake/delay-load/${dll}.def. That file lists the functions called;
# a call of any other is a link error rather than a quiet return to loading at start.
function(tolvane_delay_load dll)
  set(def ${CMAKE_SOURCE_DIR}/cmake/delay-load/${dll}.def)
  set(dir ${CMAKE_BINARY_DIR}/delay-load)
  set(lib ${dir}/lib${dll}_delayed.a)
  # The lists name the functions as the 32-bit edition links them (stdcall, NAME@BYTES).
  # x86-64 has one calling convention and undecorated names: the same list without the
  # byte counts, and the stubs' symbols without the leading underscore.
  if(TOLVANE_EDITION EQUAL 64)
    file(READ ${def} text)
    string(REGEX REPLACE "@[0-9]+" "" text "${text}")
    set(def ${dir}/${dll}.def)
    file(WRITE ${def} "${text}")
    set(symbol_prefix "")
  else()
    set(symbol_prefix "_")
  endif()
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --dllname ${dll}.dll --kill-at --output-delaylib ${lib}
    DEPENDS ${def} ${CMAKE_SOURCE_DIR}/cmake/delay-load/${dll}.def
    COMMENT "delay-load import library of ${dll}.dll")
  add_custom_target(tolvane_delayed_${dll}_import DEPENDS ${lib})
  add_library(tolvane_delayed_${dll} INTERFACE)
  add_dependencies(tolvane_delayed_${dll} tolvane_delayed_${dll}_import)
  target_link_libraries(tolvane_delayed_${dll} INTERFACE ${lib} delayimp)
  # A call through a dllimport declaration names only the function's pointer (__imp_),
  # and ld then drops the member's stub that the pointer starts out at: the call would
  # jump to zero. Naming each stub as undefined keeps them all.
  file(STRINGS ${CMAKE_SOURCE_DIR}/cmake/delay-load/${dll}.def functions REGEX "^[A-Za-z_][A-Za-z0-9_]*@[0-9]+$")
  foreach(function IN LISTS functions)
    if(TOLVANE_EDITION EQUAL 64)
      string(REGEX REPLACE "@[0-9]+$" "" function "${function}")
    endif()
    target_link_options(tolvane_delayed_${dll} INTERFACE "LINKER:--undefined=${symbol_prefix}${function}")
  endforeach()
endfunction()

