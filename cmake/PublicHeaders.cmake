# vekmrk_public_headers(target folder [PRIVATE_REGEX regex]): the headers of `folder` (relative
# to the repository root) become the target's PUBLIC include folder, reached as
# "folder/name.h", except those whose name matches the regex, which only the target's own
# sources reach (through its PRIVATE include of the root). The public ones are linked into
# <build>/include/<folder>, so that a library sees the public headers of what it links and
# nothing else of the tree. Only a target with private headers has the root as well.
function(vekmrk_public_headers target folder)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "PRIVATE_REGEX" "")
    set(staged "${PROJECT_BINARY_DIR}/include/${folder}")
    file(REMOVE_RECURSE "${staged}")
    file(MAKE_DIRECTORY "${staged}")
    file(GLOB headers CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${folder}/*.h")
    foreach(header IN LISTS headers)
        get_filename_component(name "${header}" NAME)
        if(arg_PRIVATE_REGEX AND name MATCHES "${arg_PRIVATE_REGEX}")
            continue()
        endif()
        file(CREATE_LINK "${header}" "${staged}/${name}" COPY_ON_ERROR SYMBOLIC)
    endforeach()
    if(arg_PRIVATE_REGEX)
        target_include_directories(${target} PRIVATE "${PROJECT_SOURCE_DIR}")
    endif()
    target_include_directories(${target} PUBLIC "${PROJECT_BINARY_DIR}/include")
endfunction()
