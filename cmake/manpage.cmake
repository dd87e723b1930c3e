# Writes monodoc's manual page from its own help: the overview gives the synopsis, description
# and notes, each command's help a section of its own, so the page never says other than the
# program. cmake -DMONODOC=<program> -DOUTPUT=<file> -DVERSION=<version> -P manpage.cmake
foreach(var MONODOC OUTPUT VERSION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "manpage.cmake needs -D${var}=...")
  endif()
endforeach()

function(help out)
  execute_process(COMMAND ${MONODOC} help ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "monodoc help ${ARGN} failed (${rc}): ${err}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Text kept as written (no filling): backslashes escaped, and a line that would start with a
# control character protected.
function(roff_literal text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(REGEX REPLACE "\n+$" "" text "${text}")
  set(${out} ".nf\n${text}\n.fi\n" PARENT_SCOPE)
endfunction()

help(overview)
# The overview: usage lines, a description paragraph, the command list, then notes.
string(FIND "${overview}" "\n\n" usage_end)
string(SUBSTRING "${overview}" 0 ${usage_end} usage)
string(REGEX REPLACE "(^|\n) *usage: *" "\\1" usage "${usage}")
string(REGEX REPLACE "(^|\n) +" "\\1" usage "${usage}")
string(FIND "${overview}" "Commands:\n" commands_at)
math(EXPR description_at "${usage_end} + 2")
math(EXPR description_length "${commands_at} - ${description_at}")
string(SUBSTRING "${overview}" ${description_at} ${description_length} description)
string(SUBSTRING "${overview}" ${commands_at} -1 rest)
string(FIND "${rest}" "\n\n" list_end)
string(SUBSTRING "${rest}" 0 ${list_end} command_list)
math(EXPR notes_at "${list_end} + 2")
string(SUBSTRING "${rest}" ${notes_at} -1 notes)

string(REGEX MATCHALL "\n  [a-z][a-z0-9-]*" names "${command_list}")
list(TRANSFORM names STRIP)

roff_literal("${usage}" synopsis)
string(REGEX REPLACE "\n+$" "" description "${description}")
string(REPLACE "\\" "\\e" description "${description}")
string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" description "${description}")
set(page ".TH MONODOC 1 \"\" \"monodoc ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\nmonodoc \\- run the imaging plug-in libraries on page files\n")
string(APPEND page ".SH SYNOPSIS\n${synopsis}")
string(APPEND page ".SH DESCRIPTION\n${description}\n")
roff_literal("${command_list}" list_roff)
string(APPEND page ".PP\n${list_roff}")
string(APPEND page ".SH COMMANDS\n")
foreach(name IN LISTS names)
  help(text ${name})
  roff_literal("${text}" text_roff)
  string(APPEND page ".SS ${name}\n${text_roff}")
endforeach()
roff_literal("${notes}" notes_roff)
string(APPEND page ".SH NOTES\n${notes_roff}")
string(APPEND page ".SH ENVIRONMENT\n.TP\n.B MONODOC_PLUGIN_PATH\n"
  "Colon-separated folders searched for plug-in libraries and type descriptions before the folder\n"
  "of the interpreter library.\n")
file(WRITE "${OUTPUT}" "${page}")
