# Cross-compiles for 64-bit Windows with Debian's mingw-w64 in its POSIX thread model (the
# win32 model has no std::thread). Programs link statically, so Wine (or Windows) needs no
# runtime DLLs beside them.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(rb_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${rb_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${rb_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${rb_mingw}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${rb_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
