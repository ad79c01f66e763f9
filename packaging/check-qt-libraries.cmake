# SPDX-License-Identifier: MIT
# Checks the Qt that each program loads, its dependencies' dependencies
# included: the modules it needs, all from Qt QT_MAJOR, and not one library
# of the other Qt (a Qt 5 library in a Qt 6 program would be a second copy of
# Qt in one process). VIEWERS and SIMULATOR are the programs' paths. Run by
# CTest (the "qt-libraries" test).
if(QT_MAJOR EQUAL 5)
    set(other 6)
else()
    set(other 5)
endif()

function(check program)
    get_filename_component(name "${program}" NAME)
    # ldd, as the loader resolves them: file(GET_RUNTIME_DEPENDENCIES) takes
    # half a minute over these four.
    execute_process(COMMAND ldd "${program}" OUTPUT_VARIABLE out RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "ldd ${program} failed: ${result}")
    endif()
    if(out MATCHES "([^\t\n]+) => not found")
        message(FATAL_ERROR "${name}: not found: ${CMAKE_MATCH_1}")
    endif()
    string(REGEX MATCHALL "[^\t\n ]+ => [^\n ]+" resolved "${out}")
    list(TRANSFORM resolved REPLACE "^.* => " "")
    set(qt)
    foreach(library ${resolved})
        get_filename_component(file "${library}" NAME)
        if(file MATCHES "^libQt${other}")
            message(FATAL_ERROR "${name} loads ${library}, from Qt ${other}")
        endif()
        if(file MATCHES "^libQt${QT_MAJOR}")
            list(APPEND qt "${file}")
        endif()
    endforeach()
    foreach(module ${ARGN})
        if(NOT qt MATCHES "(^|;)libQt${QT_MAJOR}${module}\\.so")
            message(FATAL_ERROR "${name} does not load Qt ${QT_MAJOR}'s ${module}: ${qt}")
        endif()
    endforeach()
    list(JOIN qt " " qt)
    message(STATUS "${name}: ${qt}")
endfunction()

foreach(viewer ${VIEWERS})
    check("${viewer}" Core Gui Widgets Network)
endforeach()
if(SIMULATOR)
    check("${SIMULATOR}" Core Gui Network)
endif()
