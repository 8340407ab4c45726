# Writes the manual page as plain text (dupsweep.txt) and the licence
# (LICENSE.txt) into OUTPUT_DIR, both with CR LF line ends, for the Windows
# zip. Run with cmake -DGROFF=... -DPAGE=... -DLICENCE=... -DOUTPUT_DIR=...
# -P windows_texts.cmake.
function(write_crlf file text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${file} "${text}")
endfunction()

# Plain ASCII without overstriking: the text reads the same in any editor.
execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou ${PAGE}
  OUTPUT_VARIABLE manual COMMAND_ERROR_IS_FATAL ANY)
write_crlf(${OUTPUT_DIR}/dupsweep.txt "${manual}")
file(READ ${LICENCE} licence)
write_crlf(${OUTPUT_DIR}/LICENSE.txt "${licence}")
