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

# One test program per folder of tests/, made of every .cpp in it.
function(tarnel_tests folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  if(_sources)
    add_executable(test_${folder} ${_sources})
    target_link_libraries(test_${folder} PRIVATE ${ARG_DEPS} GTest::gtest tarnel_test_main Threads::Threads)
    target_compile_definitions(test_${folder} PRIVATE
      TARNEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      TARNEL_REFERENCE_DIR="${PROJECT_SOURCE_DIR}/tests/data/reference")
    gtest_discover_tests(test_${folder} DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
endfunction()
