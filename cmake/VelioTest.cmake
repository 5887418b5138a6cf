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
  gtest_discover_tests(${T_NAME}
    PROPERTIES LABELS "${_labels}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    DISCOVERY_TIMEOUT 60)
  if("concurrency" IN_LIST _labels)
    add_dependencies(velio_concurrency ${T_NAME})
  endif()
endfunction()
