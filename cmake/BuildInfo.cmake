# Run at build time (cmake -P): writes OUT from IN with the commit of the source
# tree, and leaves OUT untouched when nothing changed, so an unchanged tree
# rebuilds nothing. Without git (a source tarball) the commit is "unknown".
#   -DSOURCE_DIR= -DIN= -DOUT= -DBW_VERSION= -DBW_BUILD_TYPE= -DBW_COMPILER=
#   -DBW_QT_DISTRIBUTION=
find_package(Git QUIET)
set(BW_COMMIT unknown)
if(GIT_FOUND AND EXISTS ${SOURCE_DIR}/.git)
    execute_process(
        COMMAND ${GIT_EXECUTABLE} --no-optional-locks -C ${SOURCE_DIR}
                describe --always --dirty --abbrev=10
        OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE
        ERROR_QUIET RESULT_VARIABLE rc)
    if(rc EQUAL 0 AND NOT commit STREQUAL "")
        set(BW_COMMIT "commit ${commit}")
    endif()
endif()
if(BW_BUILD_TYPE STREQUAL "")
    set(BW_BUILD_TYPE "no build type")
endif()
configure_file(${IN} ${OUT}.new @ONLY)
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUT}.new ${OUT})
file(REMOVE ${OUT}.new)
