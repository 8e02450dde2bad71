# Cross build for the board: 32-bit big-endian PowerPC Linux, with Debian's
# g++-powerpc-linux-gnu. Test binaries run under qemu-user.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/powerpc-linux-gnu.cmake ...

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)

set(_target powerpc-linux-gnu)
set(_sysroot /usr/${_target})
set(CMAKE_C_COMPILER ${_target}-gcc)
set(CMAKE_CXX_COMPILER ${_target}-g++)

# 64-bit file offsets and inode numbers: without them a 32-bit readdir() or
# stat() fails with EOVERFLOW on file systems that hand out 64-bit values
# (NFS exports, or a 64-bit host's ext4 under emulation).
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")

# Libraries and packages for the target only; programs (python3) from the host.
set(CMAKE_FIND_ROOT_PATH ${_sysroot})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(_qemu qemu-ppc)
if(_qemu)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${_qemu} -L ${_sysroot})
endif()

# Boost and Loki are header-only and the same for every target. Take them
# from the host through a directory holding only them: adding the host's
# /usr/include itself would put its C library headers before the target's.
get_property(_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT _in_try_compile)
    set(_host_headers ${CMAKE_BINARY_DIR}/host-headers)
    foreach(_lib boost loki)
        if(EXISTS /usr/include/${_lib} AND NOT EXISTS ${_host_headers}/${_lib})
            file(MAKE_DIRECTORY ${_host_headers})
            file(CREATE_LINK /usr/include/${_lib} ${_host_headers}/${_lib} SYMBOLIC)
        endif()
    endforeach()
    set(Boost_NO_BOOST_CMAKE ON CACHE BOOL "")
    set(Boost_INCLUDE_DIR ${_host_headers} CACHE PATH "")
    set(LOKI_INCLUDE_DIR ${_host_headers} CACHE PATH "")
endif()
