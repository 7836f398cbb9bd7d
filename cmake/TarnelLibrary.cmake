# One static library per folder, made of every .cpp in it; a folder without
# sources yet becomes an interface library so that dependants still link.
function(tarnel_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(_sources)
    add_library(${name} STATIC ${_sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# The vector kernels this processor runs besides the one the program
# chooses (numerics/vector_kernel.h), found once at configuration.
if(NOT DEFINED TARNEL_OTHER_KERNELS)
  try_run(_kernels_ran _kernels_built ${CMAKE_BINARY_DIR}/vector_kernels
          SOURCES ${PROJECT_SOURCE_DIR}/cmake/VectorKernels.cpp
                  ${PROJECT_SOURCE_DIR}/numerics/vector_kernel.cpp
          CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${PROJECT_SOURCE_DIR}"
          CXX_STANDARD 20
          RUN_OUTPUT_VARIABLE _kernels)
  if(NOT _kernels_built OR NOT _kernels_ran EQUAL 0)
    set(_kernels generic)
  endif()
  set(TARNEL_OTHER_KERNELS "${_kernels}" CACHE STRING
      "Vector kernels the rounding-sensitive test programs run under as well")
  message(STATUS "Tests run once more under the kernels: ${TARNEL_OTHER_KERNELS}")
endif()

# One test program per folder of tests/, made of every .cpp in it. With
# EVERY_KERNEL its tests run once more under each of TARNEL_OTHER_KERNELS
# (named <test>.<kernel>, label "kernel"), so that results that depend on
# rounding are checked with what other processors compute.
# HEAVY names, as gtest patterns, the tests whose CPU time is minutes rather
# than seconds (label "heavy"): each gets HEAVY_TIMEOUT seconds instead of
# the run's default bound, and a high COST, so that a run starts them first
# and does not end waiting for one started last.
function(tarnel_tests folder)
  cmake_parse_arguments(ARG "EVERY_KERNEL" "HEAVY_TIMEOUT" "DEPS;HEAVY" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  # A subfolder's program is named with underscores: lamm/global -> test_lamm_global.
  string(REPLACE "/" "_" folder ${folder})
  if(NOT _sources)
    return()
  endif()
  add_executable(test_${folder} ${_sources})
  target_link_libraries(test_${folder} PRIVATE ${ARG_DEPS} GTest::gtest tarnel_test_main Threads::Threads)
  target_compile_definitions(test_${folder} PRIVATE
    TARNEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TARNEL_REFERENCE_DIR="${PROJECT_SOURCE_DIR}/tests/data/reference")
  set(_runs "default")
  if(ARG_EVERY_KERNEL)
    list(APPEND _runs ${TARNEL_OTHER_KERNELS})
  endif()
  list(JOIN ARG_HEAVY ":" _heavy)
  foreach(_run IN LISTS _runs)
    # Rows are named by their generator; without one gtest would print a
    # row's bytes, heap addresses included, into the test's name.
    set(_how DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES)
    set(_properties ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    # One label a test: a list would reach the discovered tests split apart
    # (a heavy test under another kernel is labelled "kernel").
    if(NOT _run STREQUAL "default")
      list(APPEND _how TEST_SUFFIX .${_run})
      list(APPEND _properties ENVIRONMENT_MODIFICATION "TARNEL_KERNEL=set:${_run}" LABELS kernel)
    endif()
    if(_heavy)
      gtest_discover_tests(test_${folder} ${_how} TEST_FILTER "-${_heavy}" PROPERTIES ${_properties})
      set(_heavy_properties ${_properties} TIMEOUT ${ARG_HEAVY_TIMEOUT} COST 10000)
      if(_run STREQUAL "default")
        list(APPEND _heavy_properties LABELS heavy)
      endif()
      gtest_discover_tests(test_${folder} ${_how} TEST_FILTER "${_heavy}" PROPERTIES ${_heavy_properties})
    else()
      gtest_discover_tests(test_${folder} ${_how} PROPERTIES ${_properties})
    endif()
  endforeach()
endfunction()
