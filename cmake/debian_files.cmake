# Run by CPack on the staged tree of the Debian package, just before packing:
# adds what Debian asks of every package beyond the installed files.
set(usr ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
set(doc ${usr}/share/doc/${CPACK_PACKAGE_NAME})
file(MAKE_DIRECTORY ${doc})

# -n leaves out the name and time, so the same sources give the same package.
function(compress file)
  execute_process(COMMAND gzip -9nf ${file} COMMAND_ERROR_IS_FATAL ANY)
endfunction()

compress(${usr}/share/man/man1/${CPACK_PACKAGE_NAME}.1)
file(COPY ${CPACK_DUPSWEEP_README} DESTINATION ${doc})
compress(${doc}/README.md)

# lintian counts a binary as fortified only when it calls a checked variant
# (__memcpy_chk and the like). The program is built with _FORTIFY_SOURCE,
# but each of its fortifiable calls either writes where the compiler cannot
# know the size (heap buffers, io_uring) or is proven safe when compiled, so
# none needs one.
file(WRITE ${usr}/share/lintian/overrides/${CPACK_PACKAGE_NAME}
"${CPACK_PACKAGE_NAME}: hardening-no-fortify-functions [usr/bin/${CPACK_PACKAGE_NAME}]
")

# The copyright file in Debian's machine-readable form, made from LICENSE.
file(READ ${CPACK_DUPSWEEP_LICENSE} licence)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" line "${licence}")
set(holder ${CMAKE_MATCH_1})
string(FIND "${licence}" "Permission is hereby granted" start)
string(SUBSTRING "${licence}" ${start} -1 terms)
string(STRIP "${terms}" terms)
string(REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " terms "${terms}")
file(WRITE ${doc}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${CPACK_PACKAGE_NAME}

Files: *
Copyright: ${holder}
License: Expat
 ${terms}
")

# The time of the packed commit where SOURCE_DATE_EPOCH gives it (CMake reads
# it), so that two packings of one commit are alike.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${doc}/changelog
"${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium

  * Release ${CPACK_PACKAGE_VERSION}.

 -- ${CPACK_PACKAGE_CONTACT}  ${date}
")
compress(${doc}/changelog)
