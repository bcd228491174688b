# rb_library(NAME [DEPS ...]): a static library of every .cpp in the folder except tests,
# mains and the implementation files of other platforms.
function(rb_library name)
  cmake_parse_arguments(RB "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "_test\\.cpp$|_main\\.cpp$|_win\\.cpp$")
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${RB_DEPS})
endfunction()

# rb_test(LIB SOURCE [LIBS ...]): one GoogleTest executable, registered with CTest under its file name.
function(rb_test lib source)
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${lib} ${ARGN} GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()
