# Each subsystem of libmonocodec compiles once into an object library; the shared library
# and the static archive the tests link are both assembled from those objects.
define_property(GLOBAL PROPERTY MONOCODEC_PARTS
  BRIEF_DOCS "object libraries of libmonocodec" FULL_DOCS "object libraries of libmonocodec")

function(mono_codec_part name)
  add_library(${name} OBJECT ${ARGN})
  target_link_libraries(${name} PUBLIC mono_common)
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  set_property(GLOBAL APPEND PROPERTY MONOCODEC_PARTS ${name})
endfunction()

function(mono_finish_monocodec)
  get_property(parts GLOBAL PROPERTY MONOCODEC_PARTS)
  set(objs)
  foreach(p IN LISTS parts)
    list(APPEND objs $<TARGET_OBJECTS:${p}>)
  endforeach()
  add_library(monocodec SHARED ${objs})
  add_library(monocodec_static STATIC ${objs})
  foreach(t monocodec monocodec_static)
    target_link_libraries(${t} PUBLIC mono_common ${parts})
  endforeach()
  target_link_options(monocodec PRIVATE ${MONO_NO_UNDEFINED})
endfunction()

# One GoogleTest executable per library area; cases are discovered when ctest runs so the
# cross build needs no emulator at build time.
function(mono_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(CMAKE_CROSSCOMPILING)
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/qemu_ppc_fpscr.cpp)
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} monotest gtest_main)
  target_compile_options(${name} PRIVATE ${MONO_TEST_COMPILE_OPTIONS})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "MONO_SHARED_DIR=${MONO_SHARED_DIR};MONO_CACHE_DIR=${CMAKE_BINARY_DIR}/page-cache")
endfunction()

function(mono_add_bench name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE monotest benchmark::benchmark)
endfunction()

function(mono_add_fuzzer name)
  add_executable(${name} ${ARGN})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE monocodec_static)
endfunction()

get_filename_component(MONO_SHARED_DIR_DEFAULT "${CMAKE_SOURCE_DIR}/../shared" ABSOLUTE)
set(MONO_SHARED_DIR "${MONO_SHARED_DIR_DEFAULT}" CACHE PATH "the shared folder beside the project (test data)")
