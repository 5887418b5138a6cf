# velio_add_test(NAME <name> SOURCES <files...> [LIBS <libs...>] [LABELS <labels...>] [DEPENDS <targets...>])
#
# One GoogleTest program per call, its cases discovered into CTest. Programs labelled
# "concurrency" are also run under ThreadSanitizer; the target velio_concurrency builds
# exactly what those runs need (the tests and the programs they start).
include(GoogleTest)

if(NOT TARGET velio_concurrency)
  add_custom_target(velio_concurrency)
endif()

function(velio_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS;DEPENDS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE velio_core GTest::gtest GTest::gmock GTest::gtest_main ${T_LIBS})
  target_compile_definitions(${T_NAME} PRIVATE
    VELIO_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    VELIO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  if(T_DEPENDS)
    add_dependencies(${T_NAME} ${T_DEPENDS})
  endif()
  set(_labels ${T_LABELS})
  if(NOT _labels)
    set(_labels unit)
  endif()
  # Rows of table-driven tests are named by their INSTANTIATE_TEST_SUITE_P name
  # generator (tests/TestRowNames.h); NO_PRETTY_VALUES keeps the dump of the
  # row's bytes out of the CTest name.
  gtest_discover_tests(${T_NAME}
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    DISCOVERY_TIMEOUT 60
    NO_PRETTY_VALUES)
  # Labels are set by a script of their own, run after the discovered tests are
  # added: passed through gtest_discover_tests, a list of several labels would
  # come apart into separate property arguments and only the first would hold.
  set(_label_script "${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_labels.cmake")
  file(WRITE "${_label_script}"
    "if(${T_NAME}_TESTS)\n"
    "  set_tests_properties(\${${T_NAME}_TESTS} PROPERTIES LABELS \"${_labels}\")\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${_label_script}")
  if("concurrency" IN_LIST _labels)
    add_dependencies(velio_concurrency ${T_NAME})
  endif()
endfunction()
