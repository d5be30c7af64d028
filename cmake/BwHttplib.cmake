# cpp-httplib for the loopback servers of tests and tools, as target bw_httplib:
# Debian's library on Linux; for Windows the same version's single header, which
# tools/windows/httplib.sh takes from Debian's source package (BW_HTTPLIB_DIR).
if(TARGET bw_httplib)
    return()
endif()
find_package(Threads REQUIRED)
add_library(bw_httplib INTERFACE)
if(WIN32)
    set(BW_HTTPLIB_DIR "" CACHE PATH "Folder holding the single-header httplib.h")
    if(NOT EXISTS "${BW_HTTPLIB_DIR}/httplib.h")
        message(FATAL_ERROR "Set BW_HTTPLIB_DIR to the folder of httplib.h (tools/windows/httplib.sh)")
    endif()
    target_include_directories(bw_httplib SYSTEM INTERFACE ${BW_HTTPLIB_DIR})
    target_link_libraries(bw_httplib INTERFACE ws2_32 Threads::Threads)
else()
    pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
    target_link_libraries(bw_httplib INTERFACE PkgConfig::HTTPLIB Threads::Threads)
endif()
