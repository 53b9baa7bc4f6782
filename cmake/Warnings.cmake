# Every target of ours calls orvane_warnings(target).
function(orvane_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
        -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
        -Wno-missing-field-initializers)
    # g++ 12 reports moves of std::map inside std::variant (our JSON trees) as out-of-bounds
    # and uninitialised at -O2: known false positives of that compiler.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(${target} PRIVATE -Wno-array-bounds -Wno-maybe-uninitialized)
    endif()
    if(ORVANE_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    target_compile_definitions(${target} PRIVATE QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)
endfunction()
