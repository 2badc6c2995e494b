# One static library per folder. Sources are picked up from the folder itself
# (and from the sub-folders named in SUBDIRS), so adding a file needs no edit here.
# EXCLUDE names files of the folder that belong to another library; FILES gives
# the sources instead of the folder. Every library is listed in the global
# property TL_LIBRARIES, whose link lists tests/layering checks.
function(tl_add_library name)
  cmake_parse_arguments(ARG "" "" "SUBDIRS;DEPS;EXCLUDE;FILES" ${ARGN})
  set(globs ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.ui)
  foreach(sub ${ARG_SUBDIRS})
    list(APPEND globs ${CMAKE_CURRENT_SOURCE_DIR}/${sub}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/${sub}/*.h)
  endforeach()
  if(ARG_FILES)
    set(sources ${ARG_FILES})
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${globs})
  endif()
  foreach(excluded ${ARG_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  set_property(GLOBAL APPEND PROPERTY TL_LIBRARIES ${name})
  if(NOT sources)
    # A folder whose code has not been written yet still yields a library.
    set(stub ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${stub} "namespace { [[maybe_unused]] int ${name}_empty; }\n")
    set(sources ${stub})
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# One test executable per area: every *.cpp in the calling folder. Every test
# gets tests/support (log capture, waitFor); QT_MAIN gives it the shared main
# with a Qt application.
#
# SHARDS n runs the executable as n ctest entries (name_1 .. name_n), each a
# share of its tests (GoogleTest's own sharding) with a settings folder of its
# own, so that a long suite runs beside the others on every core.
function(tl_add_test name)
  cmake_parse_arguments(ARG "QT_MAIN" "SHARDS" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_executable(${name} ${sources})
  if(ARG_QT_MAIN)
    target_link_libraries(${name} PRIVATE tl_testmain)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} tl_testsupport GTest::gtest GTest::gmock Qt5::Test)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  if(NOT ARG_SHARDS)
    set(ARG_SHARDS 1)
  endif()
  foreach(shard RANGE 1 ${ARG_SHARDS})
    if(ARG_SHARDS EQUAL 1)
      set(entry ${name})
      set(share "")
    else()
      set(entry ${name}_${shard})
      math(EXPR index "${shard} - 1")
      set(share ";GTEST_TOTAL_SHARDS=${ARG_SHARDS};GTEST_SHARD_INDEX=${index}")
    endif()
    add_test(NAME ${entry} COMMAND ${name})
    set_tests_properties(${entry} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-home/${entry}/config;XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/test-home/${entry}/run${share}"
      TIMEOUT 600)
  endforeach()
endfunction()
