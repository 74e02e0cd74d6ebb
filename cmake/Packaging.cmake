# What a user gets: `cmake --install` puts it in place, `cpack` in the same build tree packs it,
# and tools/release.sh makes every package of a release.
#   Windows builds: tonflux-<version>-win32.zip (or -win64): one folder with tonflux.exe,
#                   tonflux.html, tonflux-convert.exe, README.txt and LICENSE.txt
#   native builds:  tonflux-convert with its man page, bash completion, README and LICENSE;
#                   packed as tonflux-convert_<version>_<arch>.deb and a .tar.gz
# The packages are reproducible: every time in them comes from SOURCE_DATE_EPOCH (release.sh sets
# it to the commit's date), the programs carry no link time, and neither the order of the entries
# nor their modes or owners depend on the machine. CPack makes the .deb itself; the zip and the
# .tar.gz come from its External generator and cmake/PackArchive.cmake.

find_package(Python3 COMPONENTS Interpreter REQUIRED)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
    # The plain-text README for Windows users, and the licence with Windows line ends.
    set(texts ${PROJECT_BINARY_DIR}/README.txt ${PROJECT_BINARY_DIR}/LICENSE.txt)
    add_custom_command(OUTPUT ${texts}
        COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/make-windows-texts.py
                ${PROJECT_VERSION} ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}
        DEPENDS ${PROJECT_SOURCE_DIR}/tools/make-windows-texts.py ${PROJECT_SOURCE_DIR}/README.md
                ${PROJECT_SOURCE_DIR}/LICENSE
        VERBATIM)
    add_custom_target(windows_texts ALL DEPENDS ${texts})

    install(TARGETS tonflux tonflux-convert RUNTIME DESTINATION .)
    install(FILES ${PROJECT_BINARY_DIR}/tonflux.html ${texts} DESTINATION .)

    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(CPACK_PACKAGE_FILE_NAME tonflux-${PROJECT_VERSION}-win32)
    else()
        set(CPACK_PACKAGE_FILE_NAME tonflux-${PROJECT_VERSION}-win64)
    endif()
    set(CPACK_GENERATOR External)
    set(CPACK_TONFLUX_ARCHIVE zip)
else()
    include(GNUInstallDirs)
    configure_file(${PROJECT_SOURCE_DIR}/cli/tonflux-convert.1.in
                   ${PROJECT_BINARY_DIR}/tonflux-convert.1 @ONLY)
    install(TARGETS tonflux-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${PROJECT_BINARY_DIR}/tonflux-convert.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${PROJECT_SOURCE_DIR}/cli/tonflux-convert.bash
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
            RENAME tonflux-convert)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tonflux-convert)

    string(TOLOWER ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR} system)
    set(CPACK_PACKAGE_NAME tonflux-convert)
    set(CPACK_PACKAGE_FILE_NAME tonflux-convert-${PROJECT_VERSION}-${system})
    set(CPACK_GENERATOR DEB External)
    set(CPACK_TONFLUX_ARCHIVE tar.gz)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Tonflux authors <${TONFLUX_CONTACT_EMAIL}>")
    set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TONFLUX_CONTACT_WEB})
    set(CPACK_DEBIAN_PACKAGE_SECTION sound)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_PACKAGE_DESCRIPTION
        "tonflux-convert converts Standard MIDI Files (format 0 and 1, *.mid) into MIDI stream\n\
files (*.mds): RIFF files of form MIDS holding the song already cut into stream buffers,\n\
ready for the Windows MIDI stream output functions. It converts many files at once, never\n\
leaves a half-written file, and prints an MDS file's contents with --dump.")
endif()

set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/PackArchive.cmake)
set(CPACK_TONFLUX_PYTHON ${Python3_EXECUTABLE})
set(CPACK_TONFLUX_PACKER ${PROJECT_SOURCE_DIR}/tools/pack-archive.py)
set(CPACK_PACKAGE_VENDOR "The Tonflux authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converts Standard MIDI Files into MIDI stream files")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
