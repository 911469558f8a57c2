# The Qt defines that turn silent conversions into compile errors: no text from
# or to a bare char pointer or byte array without saying which encoding, no
# narrowing in signal/slot connections, and iterators that keep const and
# non-const apart. For the program's and the stand-in server's own sources;
# targets added later (a command-line client, say) call it the same way.
#   calvaro_strict_qt(<target>...)
function(calvaro_strict_qt)
    foreach(target IN LISTS ARGN)
        target_compile_definitions(${target} PRIVATE
            QT_NO_CAST_FROM_ASCII
            QT_NO_CAST_TO_ASCII
            QT_NO_CAST_FROM_BYTEARRAY
            QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
            QT_STRICT_ITERATORS)
    endforeach()
endfunction()
