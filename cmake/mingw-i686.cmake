# Cross-compiling for 32-bit Windows: the installer as shipped.
# The posix thread model gives GoogleTest its std::mutex; with -static the
# programs still need nothing but the system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QV_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
