# cmake -D SOURCE=<source tree> -D POT=<file to write> -D XGETTEXT=<xgettext> -P MakePot.cmake
# The template of every text to translate in the files that po/POTFILES names. xgettext reads
# the C++ files for tr() and trNoop(), the interface files as GtkBuilder ones, the desktop
# entries' Name, Comment and Keywords, and the metainfo by appstream's rules.
file(STRINGS ${SOURCE}/po/POTFILES files REGEX "^[^#]")
set(cpp)
set(other)
foreach(file ${files})
  if(file MATCHES "\\.(cpp|h)$")
    list(APPEND cpp ${file})
  elseif(file MATCHES "\\.ui$")
    list(APPEND ui ${file})
  else()
    list(APPEND other ${file})
  endif()
endforeach()
set(common --from-code=UTF-8 --package-name=Nimbrel --msgid-bugs-address= --sort-by-file
           --add-comments=TRANSLATORS: -o ${POT})
execute_process(COMMAND ${XGETTEXT} ${common} -L C++ --keyword=tr --keyword=trNoop ${cpp}
                COMMAND_ERROR_IS_FATAL ANY WORKING_DIRECTORY ${SOURCE})
execute_process(COMMAND ${XGETTEXT} ${common} -j -L Glade ${ui}
                COMMAND_ERROR_IS_FATAL ANY WORKING_DIRECTORY ${SOURCE})
execute_process(COMMAND ${XGETTEXT} ${common} -j ${other}
                COMMAND_ERROR_IS_FATAL ANY WORKING_DIRECTORY ${SOURCE})
