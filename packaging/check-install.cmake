# SPDX-License-Identifier: MIT
# Installs the build in BUILD_DIR into a fresh PREFIX and checks what landed
# there: the programs, a menu entry per program naming its installed path,
# the icon, the AppStream metainfo and the manual pages. Run by CTest (the
# "install" test).
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

foreach(program orvex orvex-crosshair orvex-plain orvex-camsim)
    if(NOT EXISTS "${PREFIX}/bin/${program}")
        message(FATAL_ERROR "bin/${program} not installed")
    endif()
endforeach()
foreach(program orvex orvex-crosshair orvex-plain)
    set(entry "${PREFIX}/share/applications/${program}.desktop")
    if(NOT EXISTS "${entry}")
        message(FATAL_ERROR "${entry} not installed")
    endif()
    file(STRINGS "${entry}" exec REGEX "^Exec=")
    if(NOT exec STREQUAL "Exec=\"${PREFIX}/bin/${program}\"")
        message(FATAL_ERROR "${program}.desktop: ${exec}")
    endif()
endforeach()
foreach(file icons/hicolor/scalable/apps/orvex.svg metainfo/org.orvex.Orvex.metainfo.xml
        man/man1/orvex.1 man/man1/orvex-crosshair.1 man/man1/orvex-plain.1 man/man1/orvex-camsim.1)
    if(NOT EXISTS "${PREFIX}/share/${file}")
        message(FATAL_ERROR "share/${file} not installed")
    endif()
endforeach()
# Nothing else: no test program, no benchmark.
file(GLOB_RECURSE everything RELATIVE "${PREFIX}" "${PREFIX}/*")
list(LENGTH everything count)
if(NOT count EQUAL 13)
    message(FATAL_ERROR "expected 13 installed files, found: ${everything}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
