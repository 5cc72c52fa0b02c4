# Helpers shared by the subsystem folders.

# sonarvex_add_subdirs(): adds every direct sub-folder holding a CMakeLists.txt.
function(sonarvex_add_subdirs)
  file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    # Sub-folders named after a subsystem follow SONARVEX_SUBSYSTEMS.
    if(child IN_LIST SONARVEX_ALL_SUBSYSTEMS AND NOT child IN_LIST SONARVEX_SUBSYSTEMS)
      continue()
    endif()
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# sonarvex_gtest(NAME src... LIBS lib...): a GoogleTest binary registered in CTest.
# Tests run with the build's bin/ folder as working folder and with
# SONARVEX_SHARED pointing at the read-only shared material when it exists.
function(sonarvex_gtest name)
  cmake_parse_arguments(T "" "" "LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    SONARVEX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    SONARVEX_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  set(props ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# sonarvex_fuzzer(NAME src... LIBS lib... CORPUS dir): with SONARVEX_FUZZ a
# libFuzzer binary; otherwise the same entry point driven by a replay main
# that feeds every file of the corpus folder once (run as a CTest test).
function(sonarvex_fuzzer name)
  cmake_parse_arguments(F "" "CORPUS" "LIBS" ${ARGN})
  add_executable(${name} ${F_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  add_dependencies(fuzzers ${name})
  if(SONARVEX_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
    if(SONARVEX_TESTS)
      add_test(NAME ${name}_replay COMMAND ${name} ${F_CORPUS})
    endif()
  endif()
endfunction()
