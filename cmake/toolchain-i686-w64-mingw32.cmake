# The release build: 32 bits, because the suite's Access driver exists only as a 32-bit driver. Its tests run under
# the 32-bit Wine loader, in the same prefix as the 64-bit tree's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine)
