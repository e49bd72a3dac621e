# Writes PublishPage.cpp, the page's files as raw string literals:
#   cmake -DPAGE_DIR=... -DOUTPUT=... -P EmbedPage.cmake
set(body "")
macro(embed file path type)
  file(READ ${PAGE_DIR}/${file} content)
  string(FIND "${content}" ")KESTRELPAGE\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${file} holds the literal's end marker")
  endif()
  string(APPEND body "        {\"${path}\", \"${type}; charset=utf-8\", R\"KESTRELPAGE(${content})KESTRELPAGE\"},\n")
endmacro()
embed(index.html / text/html)
embed(page.js /page.js text/javascript)
embed(room.js /room.js text/javascript)
embed(rooms.js /rooms.js text/javascript)
embed(page.css /page.css text/css)
embed(timetable.js /timetable.js text/javascript)
embed(timetable.css /timetable.css text/css)
file(WRITE ${OUTPUT}.new "// Made by EmbedPage.cmake from publish/page; edit those files instead.
#include \"publish/PublishPage.h\"

namespace kestrel {

const std::vector<PageFile>& PageFiles()
{
    static const std::vector<PageFile> files = {
${body}    };
    return files;
}

} // namespace kestrel
")
file(RENAME ${OUTPUT}.new ${OUTPUT})
