# Cross-compiling the same sources for 64-bit Windows. This build exists for
# testing only: it runs under 64-bit Wine at native speed on hosts that cannot
# execute 32-bit code directly. The installer we ship is the 32-bit build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QV_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
