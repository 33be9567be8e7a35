# Shared build settings and helpers.

include(GNUInstallDirs)

add_library(varno_warnings INTERFACE)
target_compile_options(varno_warnings INTERFACE -Wall -Wextra
  $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>
  $<$<BOOL:${VARNO_WERROR}>:-Werror>)

if(VARNO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# In the fuzzing build every library gets coverage instrumentation.
if(VARNO_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
  set(CMAKE_C_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
endif()

# The application bundle is assembled in the build tree because the programs
# find each other through its layout.
set(VARNO_APP_DIR ${CMAKE_BINARY_DIR}/Varno.app)
set(VARNO_MACOS_DIR ${VARNO_APP_DIR}/Contents/MacOS)
set(VARNO_RESOURCES_DIR ${VARNO_APP_DIR}/Contents/Resources)
set(VARNO_FRAMEWORKS_DIR ${VARNO_APP_DIR}/Contents/Frameworks)
set(VARNO_INSTALL_APP_DIR Varno.app)

# varno_bundle_program(target [RESOURCE]): place a program in Contents/MacOS
# (or Contents/Resources) of the bundle, in the build tree and on install.
function(varno_bundle_program target)
  cmake_parse_arguments(ARG "RESOURCE" "" "" ${ARGN})
  if(ARG_RESOURCE)
    set(dir ${VARNO_RESOURCES_DIR})
    set(idir ${VARNO_INSTALL_APP_DIR}/Contents/Resources)
  else()
    set(dir ${VARNO_MACOS_DIR})
    set(idir ${VARNO_INSTALL_APP_DIR}/Contents/MacOS)
  endif()
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${dir})
  install(TARGETS ${target} RUNTIME DESTINATION ${idir})
endfunction()

# varno_bundle_resource(file...): copy data files into Contents/Resources.
function(varno_bundle_resource)
  foreach(src IN LISTS ARGN)
    get_filename_component(name ${src} NAME)
    configure_file(${src} ${VARNO_RESOURCES_DIR}/${name} COPYONLY)
    install(FILES ${src} DESTINATION ${VARNO_INSTALL_APP_DIR}/Contents/Resources)
  endforeach()
endfunction()

# varno_framework(library): lays out a shared library as the install name
# "@executable_path/../Frameworks/<Name>.framework/Versions/A/<Name>" says:
# the library file Versions/A/<Name> with its headers (include/<Name>/*.h)
# in Versions/A/Headers/<Name>, and the links Versions/Current -> A,
# <Name> -> Versions/Current/<Name> and Headers -> Versions/Current/Headers.
# Sets <Name>_VERSION_DIR in the caller for extra headers.
function(varno_framework library)
  set(framework ${VARNO_FRAMEWORKS_DIR}/${library}.framework)
  set(version ${framework}/Versions/A)
  set_target_properties(${library} PROPERTIES
    PREFIX ""
    SUFFIX ""
    OUTPUT_NAME ${library}
    LIBRARY_OUTPUT_DIRECTORY ${version})
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/include/${library}/*.h)
  foreach(header IN LISTS headers)
    get_filename_component(name ${header} NAME)
    configure_file(${header} ${version}/Headers/${library}/${name} COPYONLY)
  endforeach()
  file(CREATE_LINK A ${framework}/Versions/Current SYMBOLIC)
  file(CREATE_LINK Versions/Current/${library} ${framework}/${library} SYMBOLIC)
  file(CREATE_LINK Versions/Current/Headers ${framework}/Headers SYMBOLIC)
  install(DIRECTORY ${framework}
    DESTINATION ${VARNO_INSTALL_APP_DIR}/Contents/Frameworks
    USE_SOURCE_PERMISSIONS)
  set(${library}_VERSION_DIR ${version} PARENT_SCOPE)
endfunction()

# varno_link_framework(target library): links a program against a framework
# library; it finds it relative to itself once installed, and where it was
# built in the build tree.
function(varno_link_framework target library)
  target_link_libraries(${target} PRIVATE ${library})
  set(relative "$ORIGIN/../Frameworks/${library}.framework/Versions/A")
  set_property(TARGET ${target} APPEND PROPERTY INSTALL_RPATH "${relative}")
  set_property(TARGET ${target} APPEND PROPERTY BUILD_RPATH
    "${relative}" "${VARNO_FRAMEWORKS_DIR}/${library}.framework/Versions/A")
endfunction()

find_package(GTest REQUIRED)

# add_varno_test(name SOURCES ... [LIBS ...] [LABELS ...] [ENV k=v ...])
# One gtest executable registered with ctest as a single test. Every test
# runs with VARNO_REQUIRE_SANDBOX set so system code refuses the real root.
function(add_varno_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS;ENV;RESOURCE_LOCK" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} varno_test_main varno_warnings)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "VARNO_REQUIRE_SANDBOX=1;VARNO_BUILD_DIR=${CMAKE_BINARY_DIR};${ARG_ENV}"
    LABELS "${ARG_LABELS}"
    TIMEOUT 600)
  if(ARG_RESOURCE_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
  endif()
endfunction()
