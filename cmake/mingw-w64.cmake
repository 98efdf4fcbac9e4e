# Cross-build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64):
#
#   cmake -S . -B build-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DFITMODELS_BUILD_TESTS=OFF -DFITMODELS_BUILD_BENCH=OFF -DFITMODELS_BUILD_TOOL=OFF
#   cmake --build build-mingw --target fitmodels
#
# gives fitmodels.dll (exports and ordinals from the generated module-definition file) and
# fitmodels_hostmath.dll, with their import libraries. tools/check-dll.sh does this and checks
# the result.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(FITMODELS_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${FITMODELS_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${FITMODELS_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${FITMODELS_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FITMODELS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The host math library uses Boost.Math, which is header-only and portable, but Debian has no
# Boost built for MinGW. The build's own Boost headers are used through a directory that holds
# nothing but boost/: putting /usr/include itself on the path would let glibc's headers shadow
# the MinGW runtime's.
if(NOT Boost_INCLUDE_DIR AND EXISTS /usr/include/boost/version.hpp)
  set(_fitmodels_boost_stage "${CMAKE_BINARY_DIR}/host-boost")
  if(NOT EXISTS "${_fitmodels_boost_stage}/boost")
    file(MAKE_DIRECTORY "${_fitmodels_boost_stage}")
    file(CREATE_LINK /usr/include/boost "${_fitmodels_boost_stage}/boost" SYMBOLIC)
  endif()
  set(Boost_INCLUDE_DIR "${_fitmodels_boost_stage}" CACHE PATH "Boost headers for the cross-build")
endif()
set(Boost_NO_BOOST_CMAKE ON)

# The DLLs carry the GCC runtime they need rather than depending on libgcc_s and libstdc++ DLLs
# that a Windows host does not have.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
