# Adds every direct subfolder of DIR that has a CMakeLists.txt, so each area
# keeps its tests, benchmarks, fuzz targets and tools in a folder of its own.
function(bw_add_subdirs dir)
    file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/${dir}
         ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*/CMakeLists.txt)
    list(SORT children)
    foreach(child ${children})
        get_filename_component(sub ${child} DIRECTORY)
        add_subdirectory(${dir}/${sub})
    endforeach()
endfunction()
