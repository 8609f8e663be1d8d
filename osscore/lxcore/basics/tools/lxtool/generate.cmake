# Writes what the build makes from lxtool's own texts, by running it:
#
#   cmake -DMODE=completion -DLXTOOL=path -DOUT=file -P generate.cmake
#       the bash completion script (lxtool completion)
#   cmake -DMODE=man -DLXTOOL=path -DHELP2MAN=path -DEXTRA=lxtool.h2m -DWORK=dir -DOUT=lxtool.1.gz \
#         -P generate.cmake
#       the man page: help2man reads lxtool --help and --version; the COMMANDS
#       section holds the --help text of every command, EXTRA adds the sections
#       that the help texts lack.
function(run_lxtool out)
  execute_process(COMMAND ${LXTOOL} ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "lxtool ${ARGN} failed (${status})")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

if(MODE STREQUAL "completion")
  run_lxtool(script completion)
  file(WRITE ${OUT} "${script}")
  return()
endif()

# roff: a backslash is written \e; a line must not start with a control character.
function(roff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The overview lists the commands as "  crc32      CRC-32 of ...": the
# description lists them with their summaries, the COMMANDS section with the
# --help text of each.
run_lxtool(overview --help)
string(REGEX MATCHALL "\n  [a-z0-9-]+ +[^\n]*" lines "${overview}")
set(description "[=DESCRIPTION]
.B lxtool
reads and changes the state of the basics library (lx95Cbs71.so) from the
shell: its registry store, system log, result-code texts, checksums and
run-length format, module descriptions, time and performance counters.
Each command has its own options, which come before its operands (\\fB\\-\\-\\fR
ends them);
.B lxtool
.I COMMAND
.B \\-\\-help
prints them, as the section COMMANDS does.
")
set(commands "[COMMANDS]\n")
foreach(line ${lines})
  string(REGEX REPLACE "^\n  ([a-z0-9-]+) +(.*)$" "\\1" word "${line}")
  string(REGEX REPLACE "^\n  ([a-z0-9-]+) +(.*)$" "\\2" summary "${line}")
  roff(summary "${summary}")
  string(APPEND description ".TP\n.B ${word}\n${summary}\n")
  run_lxtool(help ${word} --help)
  roff(help "${help}")
  string(APPEND commands ".SS ${word}\n.nf\n${help}.fi\n")
endforeach()
file(WRITE ${WORK}/commands.h2m "[SYNOPSIS]
.B lxtool
.I COMMAND
.RI [ ACTION ]
.RI [ OPTION ...]
.RB [ \\-\\- ]
.RI [ OPERAND ...]
.br
.B lxtool
.BR \\-\\-help \" | \" \\-\\-version

${description}
[OPTIONS]
.TP
.BR \\-h \", \" \\-\\-help
list the commands
.TP
.B \\-\\-version
print the version of lxtool

${commands}")
execute_process(COMMAND ${HELP2MAN} --no-info --section 1
  --name "read and change the state of the Orvanta basics library"
  --include ${WORK}/commands.h2m --include ${EXTRA} --output ${WORK}/lxtool.1 ${LXTOOL}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed (${status})")
endif()
# Compressed as Debian installs man pages: gzip -9, without name or time stamp.
get_filename_component(dir ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
execute_process(COMMAND gzip -9nc ${WORK}/lxtool.1 OUTPUT_FILE ${OUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed (${status})")
endif()
