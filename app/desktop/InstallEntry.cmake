# Writes the menu entry at install time, when the prefix is known. Expects
# VARDEX_DESKTOP_TEMPLATE, bindir and appdir (absolute or relative to the
# prefix). The program's path is quoted and escaped as the desktop entry
# format asks: in Exec= a quoted argument escapes " ` $ and \ with a
# backslash and a field code's % is doubled, and the value's own backslashes
# are doubled again; TryExec= is a plain string.
if(NOT IS_ABSOLUTE "${bindir}")
  set(bindir "${CMAKE_INSTALL_PREFIX}/${bindir}")
endif()
if(NOT IS_ABSOLUTE "${appdir}")
  set(appdir "${CMAKE_INSTALL_PREFIX}/${appdir}")
endif()
set(program "${bindir}/Vdx32")
set(bs "\\")
string(REPLACE "${bs}" "${bs}${bs}" arg "${program}")
string(REPLACE "\"" "${bs}\"" arg "${arg}")
string(REPLACE "`" "${bs}`" arg "${arg}")
string(REPLACE "$" "${bs}$" arg "${arg}")
string(REPLACE "%" "%%" arg "${arg}")
string(REPLACE "${bs}" "${bs}${bs}" arg "${arg}")
string(REPLACE "${bs}" "${bs}${bs}" plain "${program}")
file(READ "${VARDEX_DESKTOP_TEMPLATE}" entry)
string(REPLACE "@VDX32_EXEC@" "${arg}" entry "${entry}")
string(REPLACE "@VDX32@" "${plain}" entry "${entry}")
set(target "$ENV{DESTDIR}${appdir}/vardex.desktop")
message(STATUS "Installing: ${target}")
file(WRITE "${target}" "${entry}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${target}")
