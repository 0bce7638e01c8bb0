# Writes the installed menu entry of the settings program. Its Exec line
# names the program by its full path, so the entry works whether or not
# <prefix>/bin is on the desktop's PATH; a path with a blank or another
# special character is quoted as desktop entries require, so the launcher
# reads it as one argument.
#
# Set by the caller: KV_ENTRY_TEMPLATE (the entry with "Exec=KvSettings" and
# its actions' "Exec=kvctl ..."),
# KV_PROGRAM_DIR (the program's folder below the prefix) and KV_ENTRY_DIR
# (the menu entries' folder below the prefix).

# The Exec value that runs the program `name` in the program folder.
function(kv_exec_value name out)
  set(program "${CMAKE_INSTALL_PREFIX}/${KV_PROGRAM_DIR}/${name}")
  set(exec "${program}")
  if(NOT program MATCHES "^[A-Za-z0-9_./+,:@%-]*$")
    # Inside double quotes a backslash, double quote, backquote and dollar
    # sign are escaped with a backslash.
    string(REPLACE "\\" "\\\\" exec "${exec}")
    string(REPLACE "\"" "\\\"" exec "${exec}")
    string(REPLACE "`" "\\`" exec "${exec}")
    string(REPLACE "$" "\\$" exec "${exec}")
    set(exec "\"${exec}\"")
  endif()
  # The escapes of every string value come on top (a backslash doubles again),
  # and a percent sign is written %% so that it is no field code.
  string(REPLACE "\\" "\\\\" exec "${exec}")
  string(REPLACE "\n" "\\n" exec "${exec}")
  string(REPLACE "\t" "\\t" exec "${exec}")
  string(REPLACE "\r" "\\r" exec "${exec}")
  string(REPLACE "%" "%%" exec "${exec}")
  set(${out} "${exec}" PARENT_SCOPE)
endfunction()

kv_exec_value(KvSettings settings)
kv_exec_value(kvctl control)

file(READ "${KV_ENTRY_TEMPLATE}" entry)
string(REPLACE "Exec=KvSettings" "Exec=${settings}" entry "${entry}")
# The desktop actions run kvctl, which lies beside the settings program.
string(REPLACE "Exec=kvctl " "Exec=${control} " entry "${entry}")
set(file "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${KV_ENTRY_DIR}/KvSettings.desktop")
file(WRITE "${file}" "${entry}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${file}")
message(STATUS "Installing: ${file}")
