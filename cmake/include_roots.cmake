# Per-target include roots.
#
# Includes are spelled from the repository's root ("statemanager/nm/nm_data_aggregator.hpp"), yet no
# target sees the whole repository. Each component folder (a folder whose CMakeLists.txt makes
# targets) gets a generated include root in the build tree, include_roots/<folder>/, that mirrors
# that folder alone: a symbolic link to each of its files and to each subfolder that is not a
# component of its own (tests/ and bench/ are). The folder's targets get that root: a library
# PUBLIC, so it reaches exactly the targets that link it; an executable PRIVATE. A library with an
# include/ folder (platform/) publishes that instead and keeps its repository-rooted root PRIVATE,
# so its src/ headers stay its own. Including a header of a component that a target does not link
# fails with "No such file or directory".
#
# Links are made at configure time; the folders are globbed with CONFIGURE_DEPENDS, so a header
# added later joins its root at the next build without a manual re-run of cmake.

# tarn1_include_root(<out-var> <source-dir>): makes the include root of one component folder.
function(tarn1_include_root out_var source_dir)
    file(RELATIVE_PATH relative "${PROJECT_SOURCE_DIR}" "${source_dir}")
    string(REPLACE "/" "." root_name "${relative}")
    set(root "${PROJECT_BINARY_DIR}/include_roots/${root_name}")
    set(mirror "${root}/${relative}")
    file(REMOVE_RECURSE "${root}")
    file(MAKE_DIRECTORY "${mirror}")
    file(GLOB entries LIST_DIRECTORIES true CONFIGURE_DEPENDS RELATIVE "${source_dir}" "${source_dir}/*")
    foreach(entry IN LISTS entries)
        if(entry STREQUAL "CMakeLists.txt" OR EXISTS "${source_dir}/${entry}/CMakeLists.txt")
            continue()
        endif()
        file(CREATE_LINK "${source_dir}/${entry}" "${mirror}/${entry}" SYMBOLIC)
    endforeach()
    set(${out_var} "${root}" PARENT_SCOPE)
endfunction()

# tarn1_add_headers(<name> HEADERS <file-or-folder>...): an INTERFACE library of a few headers (or
# a folder) of the current folder, with an include root that holds just those. For what others may
# use without the folder's library: ids and wire types that two components share, and a library's
# src/ headers for its own white-box tests, fuzz targets and benchmarks.
function(tarn1_add_headers name)
    cmake_parse_arguments(ARG "" "" "HEADERS" ${ARGN})
    add_library(${name} INTERFACE)
    add_library(tarn1::${name} ALIAS ${name})
    file(RELATIVE_PATH relative "${PROJECT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
    set(root "${PROJECT_BINARY_DIR}/include_roots/${name}")
    file(REMOVE_RECURSE "${root}")
    foreach(header IN LISTS ARG_HEADERS)
        get_filename_component(folder "${root}/${relative}/${header}" DIRECTORY)
        file(MAKE_DIRECTORY "${folder}")
        file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}/${header}" "${root}/${relative}/${header}" SYMBOLIC)
    endforeach()
    target_include_directories(${name} INTERFACE "${root}")
    set_target_properties(${name} PROPERTIES TARN1_OWN_INCLUDE_ROOT ON)
endfunction()

# tarn1_apply_include_roots(<dir>): gives every target made in <dir> and below its folder's root.
function(tarn1_apply_include_roots dir)
    get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
    set(root "")
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(NOT type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY|INTERFACE_LIBRARY|EXECUTABLE)$")
            continue()
        endif()
        get_target_property(own_root ${target} TARN1_OWN_INCLUDE_ROOT)
        if(own_root)
            continue()
        endif()
        if(NOT root)
            tarn1_include_root(root "${dir}")
        endif()
        if(type STREQUAL "INTERFACE_LIBRARY")
            target_include_directories(${target} INTERFACE "${root}")
        elseif(type STREQUAL "EXECUTABLE" OR EXISTS "${dir}/include")
            target_include_directories(${target} PRIVATE "${root}")
        else()
            target_include_directories(${target} PUBLIC "${root}")
        endif()
    endforeach()
    get_property(children DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
    foreach(child IN LISTS children)
        tarn1_apply_include_roots("${child}")
    endforeach()
endfunction()
