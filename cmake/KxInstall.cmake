# Installation: the program, the model library with its headers and a CMake
# package, the example defaults file and the manual page.
#
#   cmake --install build --prefix P
#
#   P/bin/kestrelix
#   P/lib/libkx_models.a, P/lib/libkx_field.a
#   P/include/kestrelix/{common,models,synthesis,network}/...h
#   P/include/kestrelix/field.h
#   P/lib/cmake/kestrelix/kestrelix{Config,ConfigVersion,Targets}.cmake
#   P/share/kestrelix/Kestrelix.DEF
#   P/share/man/man1/kestrelix.1
#
# A program of its own then uses the models with
#   find_package(kestrelix CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE kestrelix::models)
# and the field solver with kestrelix::field (#include "kestrelix/field.h").
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(kx_include_root ${CMAKE_INSTALL_INCLUDEDIR}/kestrelix)
set(kx_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/kestrelix)

# The installed headers include each other as "models/...", "common/..." and
# so on, relative to the include root.
target_include_directories(kx_models PUBLIC $<INSTALL_INTERFACE:${kx_include_root}>)
# The headers use C++17 (inline variables, if constexpr).
target_compile_features(kx_models INTERFACE cxx_std_17)
# The library's digits come from plain 32-bit arithmetic. Its own code is
# compiled with -ffp-contract=off already; a user's code that repeats a
# formula with the header helpers (kx::sq, kx::ipow) must not fuse it into a
# multiply-add either, so the option travels with the installed target.
target_compile_options(kx_models INTERFACE
  $<INSTALL_INTERFACE:$<$<CXX_COMPILER_ID:GNU,Clang,AppleClang>:-ffp-contract=off>>)
set_target_properties(kx_models PROPERTIES EXPORT_NAME models)
add_library(kestrelix::models ALIAS kx_models)

install(TARGETS kestrelix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS kx_models EXPORT kestrelixTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The field solver: its one public header is included as "kestrelix/field.h".
target_include_directories(kx_field PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS kx_field EXPORT kestrelixTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/kestrelix/field.h DESTINATION ${kx_include_root})

# Every public header of the library folders; *_internal.h are test hooks.
foreach(folder models models/static models/dispersion models/loss synthesis network)
  file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  list(FILTER headers EXCLUDE REGEX "_internal\\.h$")
  install(FILES ${headers} DESTINATION ${kx_include_root}/${folder})
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/common/records.h ${PROJECT_SOURCE_DIR}/common/constants.h
              ${PROJECT_SOURCE_DIR}/common/fmath.h
        DESTINATION ${kx_include_root}/common)

install(EXPORT kestrelixTargets NAMESPACE kestrelix:: DESTINATION ${kx_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kestrelixConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/kestrelixConfig.cmake
                              INSTALL_DESTINATION ${kx_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kestrelixConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kestrelixConfig.cmake
              ${PROJECT_BINARY_DIR}/kestrelixConfigVersion.cmake
        DESTINATION ${kx_cmake_dir})

install(FILES ${PROJECT_SOURCE_DIR}/examples/Kestrelix.DEF
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrelix)
install(FILES ${PROJECT_SOURCE_DIR}/doc/kestrelix.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
