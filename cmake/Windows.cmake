# SPDX-License-Identifier: MIT
# Windows only: an icon, version resource and application manifest for each
# program, and the offscreen platform plugin linked into the programs that run without a window
# (the simulator and the tests).

set(ORVEX_RC_ICON ${PROJECT_SOURCE_DIR}/packaging/orvex.ico)
set(ORVEX_RC_MANIFEST ${PROJECT_SOURCE_DIR}/packaging/orvex.manifest)
# GCC links a default-manifest.o of the toolchain's where there is one
# (Debian's mingw-w64 has none): a program with two manifests leaves it to
# chance which one Windows reads.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=default-manifest.o
                OUTPUT_VARIABLE default_manifest OUTPUT_STRIP_TRAILING_WHITESPACE)
if(IS_ABSOLUTE "${default_manifest}" AND EXISTS "${default_manifest}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} links its own ${default_manifest} into every "
                        "program, and Orvex embeds a manifest of its own: use a toolchain "
                        "without it")
endif()
if(PROJECT_VERSION_MINOR STREQUAL "")
    set(ORVEX_RC_MINOR 0)
else()
    set(ORVEX_RC_MINOR ${PROJECT_VERSION_MINOR})
endif()
if(PROJECT_VERSION_PATCH STREQUAL "")
    set(ORVEX_RC_PATCH 0)
else()
    set(ORVEX_RC_PATCH ${PROJECT_VERSION_PATCH})
endif()

function(orvex_add_windows_resource program description)
    set(ORVEX_RC_PROGRAM ${program})
    set(ORVEX_RC_DESCRIPTION "${description}")
    set(rc ${PROJECT_BINARY_DIR}/resources/${program}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/program.rc.in ${rc} @ONLY)
    target_sources(${program} PRIVATE ${rc})
    # The resource compiler does not see that the resource file reads these.
    set_source_files_properties(${rc} PROPERTIES
        OBJECT_DEPENDS "${ORVEX_RC_ICON};${ORVEX_RC_MANIFEST}")
endfunction()

orvex_add_windows_resource(orvex "Orvex camera viewer with aiming mark and frame rate")
orvex_add_windows_resource(orvex-crosshair "Orvex camera viewer with aiming mark")
orvex_add_windows_resource(orvex-plain "Orvex camera viewer")

set(headless)
if(TARGET orvex-camsim)
    orvex_add_windows_resource(orvex-camsim "Orvex camera simulator")
    list(APPEND headless orvex-camsim)
endif()
if(ORVEX_BUILD_TESTS)
    get_property(test_targets DIRECTORY tests PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${test_targets})
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "EXECUTABLE")
            list(APPEND headless ${target})
        endif()
    endforeach()
endif()
foreach(target ${headless})
    qt5_import_plugins(${target} INCLUDE Qt5::QOffscreenIntegrationPlugin)
endforeach()
