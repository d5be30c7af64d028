# Install layout and the Debian package.
#
#   bin/boxwright                                  the program
#   share/boxwright/BoxwrightImages/*.png          its images (BW_DATADIR)
#   lib/udev/boxwright-udev-probe                  run by udev for candidate devices
#   lib/udev/rules.d/70-boxwright-key.rules        grants the seat user access to the key
#   share/applications/boxwright.desktop
#   share/icons/hicolor/scalable/apps/boxwright.svg
#   share/man/man1/boxwright.1.gz                  manual page       (Linux)
#   share/doc/boxwright/{copyright,changelog.gz}   Debian's doc files (Linux)
#
# udev only reads rules and runs programs from its own folder (/usr/lib/udev on a
# merged-/usr system), which is why those two paths are not the usual libdir.

# Installing and packaging take what is built: without this, cpack first rebuilds
# every target of the tree (tests, benchmarks, tools), which the package never holds.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(BW_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(BW_UDEV_DIR lib/udev)
set(BW_UDEV_RULES_NAME 70-boxwright-key.rules)

# The probe ships with the package: build it without BW_TOOLS too.
if(NOT TARGET boxwright-udev-probe)
    add_subdirectory(${PROJECT_SOURCE_DIR}/packaging/udev_probe
                     ${PROJECT_BINARY_DIR}/packaging/udev_probe)
endif()

if(TARGET boxwright)
    install(TARGETS boxwright RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS boxwright-udev-probe RUNTIME DESTINATION ${BW_UDEV_DIR})
install(FILES ${BW_PACKAGING_DIR}/${BW_UDEV_RULES_NAME} DESTINATION ${BW_UDEV_DIR}/rules.d)
install(FILES ${BW_PACKAGING_DIR}/boxwright.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${BW_PACKAGING_DIR}/boxwright.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/BoxwrightImages
        DESTINATION ${CMAKE_INSTALL_DATADIR}/boxwright
        FILES_MATCHING PATTERN "*.png")

# Linux only: the manual page and the files Debian wants beside every package,
# compressed as lintian expects (gzip -9, no time stamp).
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(BW_DOC_BUILD_DIR ${PROJECT_BINARY_DIR}/packaging)
    configure_file(${BW_PACKAGING_DIR}/boxwright.1.in ${BW_DOC_BUILD_DIR}/boxwright.1 @ONLY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${BW_PACKAGING_DIR}/changelog)
    foreach(doc ${BW_DOC_BUILD_DIR}/boxwright.1 ${BW_PACKAGING_DIR}/changelog)
        get_filename_component(name ${doc} NAME)
        execute_process(COMMAND gzip -9nc ${doc} OUTPUT_FILE ${BW_DOC_BUILD_DIR}/${name}.gz
                        RESULT_VARIABLE rc)
        if(NOT rc EQUAL 0)
            message(FATAL_ERROR "gzip ${doc} failed")
        endif()
    endforeach()
    install(FILES ${BW_DOC_BUILD_DIR}/boxwright.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${BW_PACKAGING_DIR}/copyright ${BW_DOC_BUILD_DIR}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/boxwright)
endif()

set(CPACK_PACKAGE_NAME boxwright)
set(CPACK_PACKAGE_VENDOR "Boxwright team")
set(CPACK_PACKAGE_CONTACT "Boxwright team <team@boxwright.dev>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Companion program for the USB seal key")
set(CPACK_PACKAGE_DESCRIPTION
    "Connects the hand-held seal key over USB, shows its state, relays its traffic\n"
    "and records sealed examination boxes on the packing web service. Includes the\n"
    "udev rule that lets the logged-in user open the key without root.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Qt and libusb libraries come from dpkg-shlibdeps; the rule needs udev to run.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${BW_PACKAGING_DIR}/postinst ${BW_PACKAGING_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
