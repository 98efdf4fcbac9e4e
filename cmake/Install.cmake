# Library versions, the host math library's export list, install rules, and the packages that
# let other projects find the installed libraries:
#   find_package(fitmodels 1 CONFIG)   imported targets fitmodels::models (and fitmodels::fit
#                                      once the fitting library is built), SameMajorVersion
#   pkg-config fitmodels               (and fitmodels-fit)
#
# Every installed library goes through fitmodels_install_library() at the bottom of this file:
# it gets the project version (libfitmodels.so.1 -> libfitmodels.so.1.0.0), installs its headers
# and its pkg-config file, and joins the export set behind the CMake package.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(FITMODELS_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/fitmodels)
set(FITMODELS_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Installed libraries find each other in their own directory, and the tool finds them in the
# library directory beside its own, wherever the prefix is.
if(UNIX AND NOT APPLE)
  file(RELATIVE_PATH _fitmodels_bin_to_lib
    /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
  set(FITMODELS_LIBRARY_RPATH "$ORIGIN")
  set(FITMODELS_TOOL_RPATH "$ORIGIN/${_fitmodels_bin_to_lib}")
endif()

# ---- the host math library exports its C routines only ----------------------------------------
# Without a list of its own it would also export the Boost and libstdc++ instantiations it
# uses, tying its interface to one build of them.
set(FITMODELS_HOSTMATH_EXPORTS
  normcdf gamcdf wblcdf wblpdf velmath_log_gamma velmath_PearsonIV s15aec)
set(_map "FITMODELS_HOSTMATH_${PROJECT_VERSION_MAJOR} {\n  global:\n")
set(_def "LIBRARY fitmodels_hostmath\nEXPORTS\n")
foreach(name IN LISTS FITMODELS_HOSTMATH_EXPORTS)
  string(APPEND _map "    ${name};\n")
  string(APPEND _def "  ${name}\n")
endforeach()
string(APPEND _map "  local:\n    *;\n};\n")
file(CONFIGURE OUTPUT "${FITMODELS_GENERATED}/fitmodels_hostmath.map" CONTENT "${_map}" @ONLY)
file(CONFIGURE OUTPUT "${FITMODELS_GENERATED}/fitmodels_hostmath.def" CONTENT "${_def}" @ONLY)
if(WIN32)
  target_sources(fitmodels_hostmath PRIVATE ${FITMODELS_GENERATED}/fitmodels_hostmath.def)
else()
  target_link_options(fitmodels_hostmath PRIVATE
    -Wl,--version-script=${FITMODELS_GENERATED}/fitmodels_hostmath.map -Wl,--no-undefined)
  set_target_properties(fitmodels_hostmath PROPERTIES
    LINK_DEPENDS ${FITMODELS_GENERATED}/fitmodels_hostmath.map)
endif()

# ---- one installed library ------------------------------------------------------------------
# fitmodels_install_library(<target> EXPORT_NAME <name> [HEADERS <files>...]
#                           [PKGCONFIG <module> DESCRIPTION <text> [PKGCONFIG_REQUIRES <modules>...]])
# The target's include directories in the source or build tree are used while building; the
# installed include directory replaces them for the package's consumers.
function(fitmodels_install_library target)
  cmake_parse_arguments(ARG "" "EXPORT_NAME;PKGCONFIG;DESCRIPTION" "HEADERS;PKGCONFIG_REQUIRES"
                        ${ARGN})
  set_target_properties(${target} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    EXPORT_NAME ${ARG_EXPORT_NAME})
  if(WIN32)
    # fitmodels.dll, as named in its module-definition file.
    set_target_properties(${target} PROPERTIES PREFIX "")
  elseif(FITMODELS_LIBRARY_RPATH)
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "${FITMODELS_LIBRARY_RPATH}")
  endif()

  get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
  set(interface "")
  foreach(dir IN LISTS dirs)
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${dir}" NORMALIZE in_source)
    cmake_path(IS_PREFIX PROJECT_BINARY_DIR "${dir}" NORMALIZE in_build)
    if(in_source OR in_build)
      list(APPEND interface "$<BUILD_INTERFACE:${dir}>")
    elseif(dir)
      list(APPEND interface "${dir}")
    endif()
  endforeach()
  list(APPEND interface "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${interface}")

  install(TARGETS ${target} EXPORT fitmodelsTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  if(ARG_HEADERS)
    install(FILES ${ARG_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  endif()

  if(ARG_PKGCONFIG)
    # Relocatable: the prefix is found from the .pc file's own place (pkg-config's pcfiledir).
    file(RELATIVE_PATH pc_prefix /prefix/${FITMODELS_INSTALL_PKGCONFIGDIR} /prefix)
    string(REGEX REPLACE "/$" "" pc_prefix "${pc_prefix}")
    set(PC_PREFIX "\${pcfiledir}/${pc_prefix}")
    set(PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
    set(PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
    set(PC_NAME ${ARG_PKGCONFIG})
    set(PC_DESCRIPTION "${ARG_DESCRIPTION}")
    list(JOIN ARG_PKGCONFIG_REQUIRES " " PC_REQUIRES)
    get_target_property(PC_LIBRARY ${target} OUTPUT_NAME)
    if(NOT PC_LIBRARY)
      set(PC_LIBRARY ${target})
    endif()
    configure_file(${PROJECT_SOURCE_DIR}/cmake/fitmodels.pc.in
                   ${PROJECT_BINARY_DIR}/pkgconfig/${ARG_PKGCONFIG}.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${ARG_PKGCONFIG}.pc
            DESTINATION ${FITMODELS_INSTALL_PKGCONFIGDIR})
  endif()
endfunction()

# ---- what is installed ------------------------------------------------------------------------
fitmodels_install_library(fitmodels_hostmath EXPORT_NAME hostmath)
fitmodels_install_library(fitmodels EXPORT_NAME models
  HEADERS ${PROJECT_SOURCE_DIR}/include/fitmodels.h ${PROJECT_SOURCE_DIR}/include/fitmodels_catalog.h
  PKGCONFIG fitmodels DESCRIPTION "Nonlinear curve- and surface-fitting models behind one C calling contract")
if(TARGET fitmodels_fit)
  fitmodels_install_library(fitmodels_fit EXPORT_NAME fit
    HEADERS ${PROJECT_SOURCE_DIR}/include/fitmodels_fit.h
    PKGCONFIG fitmodels-fit DESCRIPTION "Least-squares fits of the fitmodels models"
    PKGCONFIG_REQUIRES fitmodels)
endif()

if(TARGET fitmodels-cli)
  if(FITMODELS_TOOL_RPATH)
    set_target_properties(fitmodels-cli PROPERTIES INSTALL_RPATH "${FITMODELS_TOOL_RPATH}")
  endif()
  install(TARGETS fitmodels-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT fitmodelsTargets NAMESPACE fitmodels:: DESTINATION ${FITMODELS_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/fitmodelsConfig.cmake.in
  ${PROJECT_BINARY_DIR}/fitmodelsConfig.cmake INSTALL_DESTINATION ${FITMODELS_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/fitmodelsConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/fitmodelsConfig.cmake
              ${PROJECT_BINARY_DIR}/fitmodelsConfigVersion.cmake
        DESTINATION ${FITMODELS_INSTALL_CMAKEDIR})
