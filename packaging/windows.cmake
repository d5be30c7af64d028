# The Windows installer (CPack NSIS): boxwright-<version>-win64.exe.
#
#   boxwright.exe, the Qt and MinGW runtime DLLs     in the install folder
#   platforms/, styles/, imageformats/               the Qt plugins the program loads
#   BoxwrightImages/*.png                            its images, found beside the program
#   LICENSE.txt, third-party-notices.txt, licences/  the licences
#   a Start-menu entry and Uninstall.exe
#
# The Start-menu entry starts the program in the user's %LOCALAPPDATA%, where it
# writes its trace files (the install folder is not writable for standard users).
# The installer asks to close a running copy before it installs or uninstalls,
# adds an inbound UDP firewall rule for the relay (and removes it again), and
# does not offer to start the program: it would run elevated, as the installer.
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
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/third-party-notices-windows.txt
        DESTINATION . RENAME third-party-notices.txt)
install(FILES /usr/share/common-licenses/LGPL-3 DESTINATION licences RENAME LGPL-3.0.txt)
install(FILES /usr/share/common-licenses/GPL-3 DESTINATION licences RENAME GPL-3.0.txt)

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME boxwright)
set(CPACK_PACKAGE_VENDOR "Boxwright developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Companion program for the USB seal key")
set(CPACK_PACKAGE_FILE_NAME boxwright-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Boxwright)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Boxwright)
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

# A 64-bit installer: the program is 64-bit, and so is Wine without its 32-bit part.
set(CPACK_NSIS_DEFINES "Target amd64-unicode
!include '${PROJECT_SOURCE_DIR}/packaging/windows-installer.nsh'")
set(CPACK_NSIS_PACKAGE_NAME Boxwright)
set(CPACK_NSIS_DISPLAY_NAME Boxwright)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/app/icons/boxwright.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/app/icons/boxwright.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME boxwright.exe)
# Start-menu entry "Boxwright", started in the user's %LOCALAPPDATA%, and the
# running-copy check and removal of an older version before anything is written
# (packaging/windows-installer.nsh). Replaces the generator's uninstall before
# install, which ran before any check.
set(CPACK_NSIS_CREATE_ICONS_EXTRA "!insertmacro BoxwrightCreateShortcut")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "!insertmacro BoxwrightDeleteShortcut")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL OFF)
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "!insertmacro BoxwrightCloseRunning '$INSTDIR'
  !insertmacro BoxwrightUninstallOld")
# The relay's firewall rule (packaging/windows-installer.nsh).
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "!insertmacro BoxwrightAddFirewallRule")
# The generator's uninstaller leaves the vendor's empty registry key behind.
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS
    "!insertmacro BoxwrightCloseRunning '$INSTDIR'
  !insertmacro BoxwrightRemoveFirewallRule
  DeleteRegKey SHCTX 'Software\\${CPACK_PACKAGE_VENDOR}\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}'
  DeleteRegKey /ifempty SHCTX 'Software\\${CPACK_PACKAGE_VENDOR}'")

include(CPack)
