# The warnings of every target of ours. Third-party headers (Boost, GoogleTest, libnats,
# OpenSSL) come in as system headers, so their own code never warns.
option(QS_WERROR "Fail the build on any warning (scripts/build, scripts/test and scripts/fuzz turn it on)" OFF)

add_compile_options(-Wall -Wextra -Wshadow $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast>)
if(QS_WERROR)
    add_compile_options(-Werror)
endif()

# qs_conversion_warnings(target...): implicit conversions that may change a value or its sign
# warn in these targets' own sources (clang's -Wconversion holds -Wsign-conversion already).
function(qs_conversion_warnings)
    foreach(target ${ARGN})
        target_compile_options(${target} PRIVATE -Wconversion -Wsign-conversion)
    endforeach()
endfunction()
