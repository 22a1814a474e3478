# The Monte Carlo tolerance engine of the `tolerance` subcommand: sampling,
# statistics and the table/CSV/JSON summary. Included from the top level.
find_package(nlohmann_json 3 REQUIRED)
add_library(kx_tolerance STATIC
            ${PROJECT_SOURCE_DIR}/cli/tolerance.cpp
            ${PROJECT_SOURCE_DIR}/cli/tolerance_output.cpp)
target_include_directories(kx_tolerance PUBLIC ${PROJECT_SOURCE_DIR})
find_package(Threads REQUIRED)
target_link_libraries(kx_tolerance PUBLIC kx_models PRIVATE nlohmann_json::nlohmann_json Threads::Threads)

# The worked example of the README (not installed).
add_executable(kx_tolerance_example ${PROJECT_SOURCE_DIR}/cli/tolerance_example.cpp)
target_link_libraries(kx_tolerance_example PRIVATE kx_tolerance)
