# rb_library(NAME [DEPS ...] [EXCLUDE stem ...] [PLATFORM stem ...]): a static library of every
# .cpp in the folder except tests, mains and the excluded stems. Platform implementations are
# never globbed: each PLATFORM stem adds <stem>_win.cpp on Windows and <stem>_posix.cpp
# everywhere else, both implementing the same header.
function(rb_library name)
  cmake_parse_arguments(RB "" "" "DEPS;EXCLUDE;PLATFORM" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "_test\\.cpp$|_main\\.cpp$|_posix\\.cpp$|_win\\.cpp$")
  foreach(stem IN LISTS RB_PLATFORM)
    if(WIN32)
      list(APPEND sources ${CMAKE_CURRENT_SOURCE_DIR}/${stem}_win.cpp)
    else()
      list(APPEND sources ${CMAKE_CURRENT_SOURCE_DIR}/${stem}_posix.cpp)
    endif()
  endforeach()
  foreach(stem IN LISTS RB_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "/${stem}\\.cpp$")
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${RB_DEPS})
  else()  # a folder whose first source has not been written yet
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${RB_DEPS})
  endif()
endfunction()

# rb_test(LIB SOURCE [LIBS ...] [LOCK resource] [ENV NAME=value ...]): one GoogleTest executable;
# CTest lists each of its test cases. LOCK serializes the cases with every other test holding the
# same resource (cases that share a file outside their own temporary folders); ENV sets
# environment variables for its cases. Nothing without RB_BUILD_TESTS.
function(rb_test lib source)
  if(NOT RB_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(RB "" "LOCK" "ENV" ${ARGN})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${lib} ${RB_UNPARSED_ARGUMENTS} GTest::gtest GTest::gtest_main)
  # The Qt tests compile with Qt's flags (-fPIC, its definitions) and so need their own copy.
  get_target_property(deps ${lib} LINK_LIBRARIES)
  if("Qt6::Widgets" IN_LIST deps)
    target_precompile_headers(${name} REUSE_FROM rb_qt_test_headers)
  else()
    target_precompile_headers(${name} REUSE_FROM rb_test_headers)
  endif()
  set(properties TIMEOUT 300)
  # Windows has one namespace of pipe names for the whole machine, where POSIX gives each test
  # program's private temporary folder its own: a folder that sets RB_WINDOWS_PIPE_TESTS runs
  # its tests one at a time there.
  if(WIN32 AND RB_WINDOWS_PIPE_TESTS)
    list(APPEND RB_LOCK windows-pipe-names)
  endif()
  if(RB_LOCK)
    list(APPEND properties RESOURCE_LOCK "${RB_LOCK}")
  endif()
  if(RB_ENV)
    list(APPEND properties ENVIRONMENT "${RB_ENV}")
  endif()
  gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
                       DISCOVERY_TIMEOUT 120 PROPERTIES ${properties})
endfunction()
