# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the posix thread model, which std::thread and
# Qt need). Used by scripts/windows for Qt itself and for VOLTRAK; QT_WIN_PREFIX names the Windows Qt.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_AR ${triple}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${triple}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
if(DEFINED ENV{QT_WIN_PREFIX})
    list(APPEND CMAKE_FIND_ROOT_PATH $ENV{QT_WIN_PREFIX})
endif()
if(QT_WIN_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH ${QT_WIN_PREFIX})
endif()
# Programs (moc, rcc, uic) come from the build machine; libraries and headers only from the Windows roots.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
