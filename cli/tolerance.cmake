# The Monte Carlo tolerance engine of the `tolerance` subcommand: sampling,
# statistics and the table/CSV/JSON summary. Included from cli/CMakeLists.txt.
find_package(nlohmann_json 3 REQUIRED)
add_library(kx_tolerance STATIC
            ${PROJECT_SOURCE_DIR}/cli/tolerance.cpp
            ${PROJECT_SOURCE_DIR}/cli/tolerance_output.cpp)
target_include_directories(kx_tolerance PUBLIC ${PROJECT_SOURCE_DIR})
find_package(Threads REQUIRED)
target_link_libraries(kx_tolerance PUBLIC kx_models PRIVATE nlohmann_json::nlohmann_json Threads::Threads)

