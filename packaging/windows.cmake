# The Windows installer (CPack NSIS): boxwright-<version>-win64.exe.
#
#   boxwright.exe, the Qt and MinGW runtime DLLs     in the install folder
#   platforms/, styles/, imageformats/               the Qt plugins the program loads
#   BoxwrightImages/*.png                            its images, found beside the program
#   a Start-menu entry and Uninstall.exe
#
# No udev rule or probe: Windows binds WinUSB to the key by its own descriptors.

set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

if(TARGET boxwright)
    install(TARGETS boxwright RUNTIME DESTINATION .)
endif()
foreach(dll ${BW_WINDOWS_QT_DLLS})
    install(FILES ${BW_QT_PREFIX_DIR}/${dll} DESTINATION .)
endforeach()
install(FILES ${BW_WINDOWS_MINGW_DLLS} DESTINATION .)
foreach(plugin ${BW_WINDOWS_QT_PLUGINS})
    get_filename_component(kind ${plugin} DIRECTORY)
    install(FILES ${BW_QT_PREFIX_DIR}/plugins/${plugin} DESTINATION ${kind})
endforeach()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/BoxwrightImages DESTINATION . FILES_MATCHING PATTERN "*.png")

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME boxwright)
set(CPACK_PACKAGE_VENDOR "Boxwright developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Companion program for the USB seal key")
set(CPACK_PACKAGE_FILE_NAME boxwright-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Boxwright)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Boxwright)
set(CPACK_STRIP_FILES ON)

# A 64-bit installer: the program is 64-bit, and so is Wine without its 32-bit part.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_PACKAGE_NAME Boxwright)
set(CPACK_NSIS_DISPLAY_NAME Boxwright)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# Start-menu entry "Boxwright" for the program, which sits in the install folder itself.
set(CPACK_PACKAGE_EXECUTABLES boxwright Boxwright)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_INSTALLED_ICON_NAME boxwright.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MUI_FINISHPAGE_RUN boxwright.exe)
# The generator's uninstaller leaves the vendor's empty registry key behind.
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS
    "DeleteRegKey SHCTX 'Software\\${CPACK_PACKAGE_VENDOR}\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}'
  DeleteRegKey /ifempty SHCTX 'Software\\${CPACK_PACKAGE_VENDOR}'")

include(CPack)
