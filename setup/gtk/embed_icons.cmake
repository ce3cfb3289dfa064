# Writes a C++ source that holds the two .ico files as byte arrays, so the GTK
# program shows the same pictures as the Windows resources without files of
# its own at run time. Arguments: OUTPUT, APP_ICON, PICTURE_ICON.
function(emit_array name path out)
  file(READ ${path} hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR count "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
  string(REGEX REPLACE "((0x..,){16})" "\\1\n    " body "${body}")
  set(${out} "${${out}}extern const unsigned char ${name}[] = {\n    ${body}};\nextern const unsigned int ${name}Size = ${count};\n" PARENT_SCOPE)
endfunction()

set(text "// Generated from setup/icons by setup/gtk/embed_icons.cmake.\n")
emit_array(kAppIconBytes ${APP_ICON} text)
emit_array(kPictureIconBytes ${PICTURE_ICON} text)
file(WRITE ${OUTPUT} "${text}")
