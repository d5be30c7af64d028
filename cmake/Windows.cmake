# The Windows build (MinGW-w64 cross build, run under Wine): every program lands
# in bin/ beside the Qt and MinGW runtime DLLs and the Qt plugins, the layout the
# installer has too, so tests and the program run there as they are.

# The DLL and plugin lists below are Qt 5's.
if(NOT BW_QT_MAJOR STREQUAL "5")
    message(FATAL_ERROR "The Windows build uses Qt 5 (BW_QT_MAJOR=5)")
endif()

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
get_filename_component(BW_QT_PREFIX_DIR "${Qt5Core_DIR}/../../.." ABSOLUTE)

# What the program needs at run time, relative to the Qt prefix.
set(BW_WINDOWS_QT_DLLS bin/Qt5Core.dll bin/Qt5Gui.dll bin/Qt5Widgets.dll bin/Qt5Network.dll)
set(BW_WINDOWS_QT_PLUGINS
    platforms/qwindows.dll
    styles/qwindowsvistastyle.dll
    imageformats/qico.dll imageformats/qjpeg.dll imageformats/qgif.dll)
# Only the tests need these.
set(BW_WINDOWS_TEST_DLLS bin/Qt5Test.dll)
set(BW_WINDOWS_TEST_PLUGINS platforms/qoffscreen.dll)

set(BW_WINDOWS_MINGW_DLLS)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(path "${path}" ABSOLUTE)
    if(NOT EXISTS "${path}")
        message(FATAL_ERROR "MinGW runtime ${dll} not found")
    endif()
    list(APPEND BW_WINDOWS_MINGW_DLLS ${path})
endforeach()

set(copies)
foreach(dll ${BW_WINDOWS_QT_DLLS} ${BW_WINDOWS_TEST_DLLS})
    list(APPEND copies COMMAND ${CMAKE_COMMAND} -E copy_if_different
         ${BW_QT_PREFIX_DIR}/${dll} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/)
endforeach()
foreach(dll ${BW_WINDOWS_MINGW_DLLS})
    list(APPEND copies COMMAND ${CMAKE_COMMAND} -E copy_if_different
         ${dll} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/)
endforeach()
foreach(plugin ${BW_WINDOWS_QT_PLUGINS} ${BW_WINDOWS_TEST_PLUGINS})
    get_filename_component(kind ${plugin} DIRECTORY)
    list(APPEND copies COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${kind}
         COMMAND ${CMAKE_COMMAND} -E copy_if_different
         ${BW_QT_PREFIX_DIR}/plugins/${plugin} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${kind}/)
endforeach()
add_custom_target(bw_windows_runtime ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
    ${copies}
    COMMENT "Qt and MinGW runtime beside the programs")

# Tests run under Wine in a prefix of the build's own, made by the first test.
set(BW_WINEPREFIX ${PROJECT_BINARY_DIR}/wineprefix)
# The offscreen platform of Qt for Windows draws with the fonts in QT_QPA_FONTDIR,
# the first one for any family it does not find: DejaVu Sans alone, the font the
# Linux tests get from fontconfig.
set(BW_TEST_FONTS ${PROJECT_BINARY_DIR}/test-fonts)
file(GLOB sans /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
     /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf)
file(COPY ${sans} DESTINATION ${BW_TEST_FONTS})
set(BW_WINE_ENV "WINEPREFIX=${BW_WINEPREFIX}" "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml="
    "QT_QPA_FONTDIR=Z:${BW_TEST_FONTS}")
