# Small helpers shared by every subsystem's CMakeLists.

# lapido_add_test(NAME test_x SOURCES a.cpp b.cpp LIBS lib... LABELS unit sim)
# One GoogleTest executable per subsystem; cases are discovered so ctest lists each one.
function(lapido_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} lapido_testsupport lapido_testmain GTest::gtest GTest::gmock)
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  # Discovered tests take one label through PROPERTIES (a list does not survive the trip);
  # further labels go on the folder, which holds one test program per subsystem.
  list(POP_FRONT T_LABELS first_label)
  if(T_LABELS)
    set_property(DIRECTORY APPEND PROPERTY LABELS ${T_LABELS})
  endif()
  gtest_discover_tests(${T_NAME}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    PROPERTIES LABELS ${first_label}
    DISCOVERY_TIMEOUT 60)
endfunction()

# Model libraries must never reach for widgets; this keeps the rule visible in CMake.
function(lapido_model_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()

# lapido_subsystem(lapido_x LINKS a b ...): the library of a src/ folder made of every .cpp in
# it (picked up at the next build). While a folder has no source yet it is an interface
# library, so that the folders built on it still configure.
function(lapido_subsystem name)
  cmake_parse_arguments(S "" "" "LINKS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    lapido_model_library(${name} ${sources})
    target_link_libraries(${name} PUBLIC ${S_LINKS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${S_LINKS})
  endif()
endfunction()

# lapido_add_ui_test(NAME test_ui_x SOURCES a.cpp LIBS lib...): a window test program, run on
# the offscreen platform with a QApplication; label "ui".
function(lapido_add_ui_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} lapido_ui lapido_testsupport
    lapido_testmain_widgets Qt6::Test GTest::gtest GTest::gmock)
  gtest_discover_tests(${T_NAME}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    PROPERTIES LABELS ui ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp"
    DISCOVERY_TIMEOUT 60)
endfunction()

# lapido_add_x_test(NAME test_x_y SOURCES a.cpp LIBS lib... SIZES 1366x768 1920x1080): a window
# test program run as an operator sees it: on a private virtual X display with a window manager
# (scripts/xsession.sh), real focus and real key events, once per screen size. The size reaches
# the program as LAPIDO_SCREEN_SIZE. Label "x"; left out where Xvfb is not installed.
find_program(LAPIDO_XVFB Xvfb)
function(lapido_add_x_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;SIZES" ${ARGN})
  if(NOT T_SIZES)
    set(T_SIZES 1366x768)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} lapido_ui lapido_testsupport
    lapido_testmain_widgets Qt6::Test GTest::gtest GTest::gmock)
  if(NOT LAPIDO_XVFB)
    message(STATUS "Xvfb not found: ${T_NAME} is built but not run")
    return()
  endif()
  foreach(size ${T_SIZES})
    add_test(NAME ${T_NAME}_${size}
      COMMAND ${PROJECT_SOURCE_DIR}/scripts/xsession.sh --size ${size} -- $<TARGET_FILE:${T_NAME}>
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(${T_NAME}_${size} PROPERTIES LABELS x
      ENVIRONMENT "LAPIDO_SCREEN_SIZE=${size};LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp"
      TIMEOUT 600)
  endforeach()
endfunction()
