# Run by CPack's External generator (cmake/Packaging.cmake) with the install tree staged in
# CPACK_TEMPORARY_DIRECTORY: packs it as CPACK_PACKAGE_FILE_NAME.CPACK_TONFLUX_ARCHIVE, one
# folder of that name inside, through tools/pack-archive.py. CPack's own archive generators take
# the entries in the order the file system lists them and with the builder's owner, so the same
# commit could give different archives on two machines.
set(archive ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.${CPACK_TONFLUX_ARCHIVE})
execute_process(
    COMMAND ${CPACK_TONFLUX_PYTHON} ${CPACK_TONFLUX_PACKER} ${CPACK_TONFLUX_ARCHIVE}
            ${CPACK_TEMPORARY_DIRECTORY} ${CPACK_PACKAGE_FILE_NAME} ${archive}
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "packing ${archive} failed")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES ${archive})
