# Puts the page together: page.html with its style sheet, the programs'
# wasm (as base64 text) and their loader, and the page's own script written
# into it.
#   cmake -D SOURCE_DIR=<tools/web> -D PROGRAMS=<programs.js> -D WASM=<programs.wasm.base64>
#         -D OUTPUT=<kzshapes.html> -D VERSION=<version> -P make_page.cmake
file(READ ${SOURCE_DIR}/page.html page)
file(READ ${SOURCE_DIR}/page.css style)
file(READ ${SOURCE_DIR}/page.js script)
file(READ ${PROGRAMS} programs)
file(READ ${WASM} wasm)
if(NOT wasm MATCHES "^[A-Za-z0-9+/]+=*$")
  message(FATAL_ERROR "${WASM} is not base64 text")
endif()
# Inside a <script> element the first "</script" ends it, wherever it
# stands; none of the parts may hold one.
foreach(part style script programs)
  string(TOLOWER "${${part}}" lower)
  string(FIND "${lower}" "</script" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "the page's ${part} holds \"</script\", which would end its element")
  endif()
endforeach()
# The placeholders are taken in the order in which they stand in page.html,
# each looked for only after the one before: nothing that a part holds is
# taken for a placeholder.
string(REPLACE "@KZ_VERSION@" "${VERSION}" rest "${page}")
set(page "")
foreach(part style wasm programs script)
  string(TOUPPER "@KZ_PAGE_${part}@" placeholder)
  string(FIND "${rest}" "${placeholder}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "page.html has no ${placeholder} after the parts before it")
  endif()
  string(SUBSTRING "${rest}" 0 ${at} before)
  string(LENGTH "${placeholder}" placeholder_length)
  math(EXPR after "${at} + ${placeholder_length}")
  string(SUBSTRING "${rest}" ${after} -1 rest)
  string(APPEND page "${before}${${part}}")
endforeach()
file(WRITE ${OUTPUT} "${page}${rest}")
