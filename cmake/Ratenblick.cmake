# rb_library(NAME [DEPS ...] [EXCLUDE stem ...]): a static library of every .cpp in the folder
# except tests, mains, the implementation files of other platforms and the excluded stems.
function(rb_library name)
  cmake_parse_arguments(RB "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "_test\\.cpp$|_main\\.cpp$|_win\\.cpp$")
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

# rb_test(LIB SOURCE [LIBS ...]): one GoogleTest executable, registered with CTest under its file name.
function(rb_test lib source)
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${lib} ${ARGN} GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()
