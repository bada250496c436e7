# ormid_module(<name> DEPS <targets...>)
# A static library from every .cpp of the calling folder (recursively).
function(ormid_module name)
  cmake_parse_arguments(M "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    set(sources ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${M_DEPS})
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/tsan_tests.cmake)

# ormid_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# A GoogleTest binary registered with ctest as one test (in a ThreadSanitizer
# build, only its cases that run threads when tsan_tests.cmake lists it).
function(ormid_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(ORMID_UNITY_TESTS)
    # Test files share one translation unit per batch: names at file scope
    # (anonymous namespaces included) must differ between the files of a program.
    set_target_properties(${name} PROPERTIES UNITY_BUILD ON)
    # GCC takes a test file included into the unity file for a header and
    # warns about its fixtures in anonymous namespaces.
    target_compile_options(${name} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
  endif()
  if(ORMID_TSAN AND DEFINED ORMID_TSAN_FILTER_${name})
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1 --gtest_filter=${ORMID_TSAN_FILTER_${name}})
  else()
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  endif()
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# Adds every direct subfolder of the calling folder that has a CMakeLists.txt,
# so parallel pieces of work never edit one shared list.
function(ormid_add_subfolders)
  file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# ormid_fuzz_target(<name> <source> LIBS <targets...>)
# A libFuzzer binary, registered with ctest (label "fuzz") as a bounded run
# (ORMID_FUZZ_SECONDS) on a copy of the seed corpus kept in the calling
# folder's corpus/ directory. Any crash, leak, sanitizer report or over-read
# fails the test. Long runs are fuzz/campaign.sh's.
set(ORMID_FUZZ_SECONDS 15 CACHE STRING "Seconds each fuzz target runs under ctest")
function(ormid_fuzz_target name source)
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY ORMID_FUZZ_TARGETS ${name})
  set(seeds ${CMAKE_CURRENT_SOURCE_DIR}/corpus)
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
  add_test(NAME ${name}
           COMMAND sh -c "rm -rf '${corpus}' && cp -r '${seeds}' '${corpus}' && exec '$<TARGET_FILE:${name}>' \
-max_total_time=${ORMID_FUZZ_SECONDS} -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 '${corpus}'")
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 180
                       ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endfunction()
