# calvaro_build_flags: the warnings and Qt defines that every target of ours
# builds with, the program, calvaro, the stand-in server, tests, benchmarks
# and fuzz targets alike. Each target links it:
#   target_link_libraries(<target> PRIVATE calvaro_build_flags)
# and calvaro_check_build_flags() at the end of the top-level list fails the
# configuration when one of them does not.
add_library(calvaro_build_flags INTERFACE)

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(calvaro_build_flags INTERFACE -Wall -Wextra
                           $<$<BOOL:${CALVARO_WERROR}>:-Werror>)
endif()

target_compile_definitions(calvaro_build_flags INTERFACE
    # No text from or to a bare char pointer or byte array without saying
    # which encoding, no narrowing in signal/slot connections, iterators that
    # keep const and non-const apart, and no Q_FOREACH.
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_STRICT_ITERATORS
    QT_NO_FOREACH
    # Everything the toolkit deprecated up to the newest release of each
    # major version that we build with stays out of reach, so that a use of
    # it fails to compile instead of turning into a warning on a newer Qt.
    $<IF:$<EQUAL:${QT_VERSION_MAJOR},5>,QT_DISABLE_DEPRECATED_BEFORE=0x050F00,QT_DISABLE_DEPRECATED_BEFORE=0x060400>)

function(calvaro_collect_targets directory result)
    get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
    foreach(subdirectory IN LISTS subdirectories)
        calvaro_collect_targets(${subdirectory} nested)
        list(APPEND targets ${nested})
    endforeach()
    set(${result} ${targets} PARENT_SCOPE)
endfunction()

# Every library and executable below the project's top folder links
# calvaro_build_flags; one that does not fails the configuration.
function(calvaro_check_build_flags)
    calvaro_collect_targets(${PROJECT_SOURCE_DIR} targets)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
            get_target_property(links ${target} LINK_LIBRARIES)
            if(NOT "calvaro_build_flags" IN_LIST links)
                message(FATAL_ERROR "Target ${target} does not link calvaro_build_flags")
            endif()
        endif()
    endforeach()
endfunction()
