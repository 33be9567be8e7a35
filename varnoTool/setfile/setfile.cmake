# SetFile, shipped among the bundle's resources: shows and hides files for
# the executor's visibility operation.
include_guard(GLOBAL)
add_executable(SetFile ${CMAKE_CURRENT_LIST_DIR}/SetFile.cpp)
target_link_libraries(SetFile PRIVATE fs varno_warnings)
varno_bundle_program(SetFile RESOURCE)
