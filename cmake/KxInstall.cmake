# Installation: the program, the model library with its public headers and a
# CMake package, the example defaults file, the plot scripts and the manual page.
#
#   cmake --install build --prefix P
#
#   P/bin/kestrelix
#   P/libexec/kestrelix/kestrelix-serve   (the web page, `kestrelix serve`)
#   P/lib/libkx_models.a, libkx_field.a, libkx_materials.a, libkx_wideband.a, libkx_wideband_io.a,
#   P/lib/libkx_stack.a, libkx_stackup.a, libkx_studies.a, libkx_base.a
#   P/include/kestrelix/*.h   (the public API only: include/kestrelix/)
#   P/lib/cmake/kestrelix/kestrelix{Config,ConfigVersion,Targets}.cmake
#   P/share/kestrelix/Kestrelix.DEF, materials.json
#   P/share/kestrelix/examples/plot_response.py, plot_tolerance.py, plot_accuracy.py,
#                              six_layer.kicad_pcb
#   P/share/man/man1/kestrelix.1
#
# A program of its own then uses the models with
#   find_package(kestrelix CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE kestrelix::models)
# and includes <kestrelix/coupled_line.h> (kestrelix::models brings the field
# solver, kestrelix::field, with it: Model::field); the solver alone with
# kestrelix::field and <kestrelix/field.h>; the studies (the differential
# pair's search, the closed forms against the field model) with
# kestrelix::studies and <kestrelix/diff_pair.h>, <kestrelix/check.h>; a
# board cross-section on the general solver with kestrelix::studies and
# <kestrelix/structure.h> (kestrelix::stackup for stackup files and KiCad boards).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(kx_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/kestrelix)

# The public headers are included as <kestrelix/...> below the include root.
target_include_directories(kx_models PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
# The headers use C++17 (inline variables).
target_compile_features(kx_models INTERFACE cxx_std_17)
set_target_properties(kx_models PROPERTIES EXPORT_NAME models)
add_library(kestrelix::models ALIAS kx_models)

install(TARGETS kestrelix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The web server program behind `kestrelix serve`, where the program looks
# for it (app/CMakeLists.txt).
if(TARGET kestrelix-serve)
  install(TARGETS kestrelix-serve RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/kestrelix)
endif()
install(TARGETS kx_models EXPORT kestrelixTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The public API: include/kestrelix/ of the source tree, nothing else (the
# records, the chain, the routines and their caches stay inside the library).
file(GLOB kx_public_headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/include/kestrelix/*.h)
install(FILES ${kx_public_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestrelix)

# The field solver (its header is among the public ones above).
target_include_directories(kx_field PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS kx_field EXPORT kestrelixTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The general cross-section and its solver, and the stackup files
# (kestrelix::stack with <kestrelix/stack_solver.h>, kestrelix::stackup with
# <kestrelix/stackup_file.h>).
target_include_directories(kx_stack PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_include_directories(kx_stackup PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS kx_stack kx_stackup EXPORT kestrelixTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The wideband materials, the line from the field and its text formats
# (kestrelix::materials, kestrelix::wideband, kestrelix::wideband_io), and the
# generic materials file the faces read.
foreach(kx_lib kx_materials kx_wideband kx_wideband_io)
  target_include_directories(${kx_lib} PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  install(TARGETS ${kx_lib} EXPORT kestrelixTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/models/materials/materials.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrelix)

# The studies and what they need of common/ (the sweep rule, the Stop).
foreach(kx_lib kx_studies kx_base)
  target_include_directories(${kx_lib} PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  install(TARGETS ${kx_lib} EXPORT kestrelixTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
endforeach()
set_target_properties(kx_studies PROPERTIES EXPORT_NAME studies)
set_target_properties(kx_base PROPERTIES EXPORT_NAME base)
add_library(kestrelix::studies ALIAS kx_studies)

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
# The plot scripts of the scripted output (Debian's python3-matplotlib,
# python3-scikit-rf).
file(GLOB kx_plot_scripts CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/examples/*.py)
install(PROGRAMS ${kx_plot_scripts} DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrelix/examples)
# A six-layer board's stackup for `kestrelix line --kicad` and examples/structures_mm.
install(FILES ${PROJECT_SOURCE_DIR}/examples/six_layer.kicad_pcb
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrelix/examples)
install(FILES ${PROJECT_SOURCE_DIR}/doc/kestrelix.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
