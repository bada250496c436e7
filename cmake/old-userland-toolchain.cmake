# The shipped build: the host's clang with the Debian 11 tree of
# scripts/old-userland as its sysroot, so the library binds that tree's C
# library (glibc 2.31, and nothing newer than 2.28 is used) and links its C++
# runtime (libstdc++ 10) statically.
# usage: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/old-userland-toolchain.cmake -DORMID_SYSROOT=<tree> ...
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
if(NOT ORMID_SYSROOT)
  set(ORMID_SYSROOT $ENV{ORMID_SYSROOT})
endif()
if(NOT ORMID_SYSROOT OR NOT EXISTS ${ORMID_SYSROOT}/.complete)
  message(FATAL_ERROR "ORMID_SYSROOT must name a tree made by scripts/old-userland")
endif()
# Try-compile projects see the variable too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORMID_SYSROOT)
set(CMAKE_SYSROOT ${ORMID_SYSROOT})
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET x86_64-linux-gnu)
set(CMAKE_CXX_COMPILER_TARGET x86_64-linux-gnu)
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -static-libstdc++ -static-libgcc")
endforeach()
# Libraries, headers and packages from the tree only; programs from the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${ORMID_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR} ${ORMID_SYSROOT}/usr/lib/x86_64-linux-gnu/pkgconfig:${ORMID_SYSROOT}/usr/share/pkgconfig)
# The JNI headers of the tree's JDK (a path inside the sysroot).
set(JAVA_HOME /usr/lib/jvm/java-17-openjdk-amd64)
