# `make format` rewrites every C++ file of the repository with the root .clang-format;
# `make format-check` fails, listing the files, when any of them is not formatted.
# The formatter's major version is pinned: another version formats some constructs differently.
find_program(VEKMRK_CLANG_FORMAT NAMES clang-format-14)
if(VEKMRK_CLANG_FORMAT)
    add_custom_target(format
        COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/scripts/format.sh" --fix
        WORKING_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}"
        COMMENT "Formatting the C++ sources with ${VEKMRK_CLANG_FORMAT}"
        VERBATIM)
    add_custom_target(format-check
        COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/scripts/format.sh"
        WORKING_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}"
        COMMENT "Checking the formatting of the C++ sources"
        VERBATIM)
endif()
